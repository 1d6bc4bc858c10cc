# The objects of the vector kernels, one per vector unit, define no code
# outside their own namespace: an inline function compiled into two of them
# is one symbol to the linker, which keeps either copy, and a processor
# without the wider unit would then run its instructions.  OBJECTS lists
# the objects; NM lists their symbols (mangled: kernels_<unit> is in the
# name of everything a copy may define).
execute_process(COMMAND ${NM} --defined-only ${OBJECTS} OUTPUT_VARIABLE symbols RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${NM} cannot read ${OBJECTS}")
endif()
string(REPLACE "\n" ";" symbols "${symbols}")
set(count 0)
foreach(line ${symbols})
  # Code the linker may take from any object: global (T) and weak (W, w).
  # Local code (t: a copy's own functions, a sanitizer's constructors) stays
  # with its object, and data shared by every copy (the lattices' tables) is
  # the same bytes whichever the linker keeps.
  if(line MATCHES " [TWw] (.+)$")
    math(EXPR count "${count} + 1")
    if(NOT CMAKE_MATCH_1 MATCHES "kernels_[a-z0-9_]+")
      message(FATAL_ERROR "code outside its copy's namespace: ${line}")
    endif()
  endif()
endforeach()
message("${count} global or weak functions, all in their copy's namespace")
