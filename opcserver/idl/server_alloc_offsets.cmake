# cmake -DFILE=NAME_p.c -P server_alloc_offsets.cmake
#
# widl describes an [out] parameter that the stub keeps on its own stack
# (server allocation size, here every [out] string pointer: LPWSTR *) by the
# type of the pointer it points to, where the interpreter in the system's
# rpcrt4 expects the parameter's own pointer: the reference pointer marked
# [allocated_on_stack] [pointer_deref] just before it. Pointed at the inner
# one, the stub marshals the bytes of its stack slot as the string and the
# client's string comes back empty. This points every such parameter at its
# outer pointer, as MIDL writes them.
file(READ ${FILE} text)

# Offsets of the outer pointers: "/* N (TYPE *) */" then FC_RP 0x14.
string(REGEX MATCHALL "/\\* [0-9]+ \\([^)\n]*\\) \\*/\n[ \t]+0x11, 0x14" outers "${text}")
set(outer_offsets "")
foreach(match IN LISTS outers)
  string(REGEX REPLACE "^/\\* ([0-9]+) .*" "\\1" offset "${match}")
  list(APPEND outer_offsets ${offset})
endforeach()

# Parameters with a server allocation size whose type is the pointer 4 bytes
# after one of them.
string(REGEX MATCHALL
  "srv size=[0-9]+ \\*/\n[ \t]+NdrFcShort\\(0x[0-9a-f]+\\),[^\n]*\n[ \t]+NdrFcShort\\(0x[0-9a-f]+\\),[ \t]+/\\* type offset = [0-9]+ \\*/"
  parameters "${text}")
set(changed 0)
foreach(parameter IN LISTS parameters)
  string(REGEX REPLACE ".*type offset = ([0-9]+) \\*/$" "\\1" offset "${parameter}")
  math(EXPR outer "${offset} - 4")
  list(FIND outer_offsets ${outer} found)
  if(found GREATER -1)
    math(EXPR hex "${outer}" OUTPUT_FORMAT HEXADECIMAL)
    string(REGEX REPLACE "NdrFcShort\\(0x[0-9a-f]+\\),([ \t]+/\\* type offset = )[0-9]+ \\*/$"
           "NdrFcShort(${hex}),\\1${outer} */" fixed "${parameter}")
    string(REPLACE "${parameter}" "${fixed}" text "${text}")
    math(EXPR changed "${changed} + 1")
  endif()
endforeach()
file(WRITE ${FILE} "${text}")
message(STATUS "${FILE}: ${changed} [out] parameters pointed at their own pointer")
