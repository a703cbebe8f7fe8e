# Copies the natives' module-definition file without the export lines that
# contain DROP, for a module whose export table lacks one native.
#   cmake -DIN=<launcher_exports.def> -DOUT=<file> -DDROP=<text> -P filter_exports.cmake
file(STRINGS "${IN}" lines)
set(kept "")
foreach(line IN LISTS lines)
  string(FIND "${line}" "${DROP}" at)
  if(at EQUAL -1)
    string(APPEND kept "${line}\n")
  endif()
endforeach()
file(WRITE "${OUT}" "${kept}")
