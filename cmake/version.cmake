# Version headers.
#
# Every program carries one "$Header: " text per source file it is built from (its own and
# those of the libraries it links), so that "-version" can list what a binary is made of:
#
#   $Header: <path> <revision> <day> <month> <year> <time> <initials> $ <compile month day
#   year> <compile time> <build stamp>
#
# The revision is 1.<number of commits that touched the file>, the check-in date, time
# and initials are those of its last commit (1.0, today and "--" for a file git does not
# know yet); the compile date and time come from the compiler; the stamp is the short
# commit id of the tree that was configured. The texts are generated at configure time
# into one source file per program, added to that program when every directory has been
# read.

set(ZOV_VERSION_SOURCE_DIR ${CMAKE_CURRENT_LIST_DIR}/..)

# Collects the buildsystem targets of a directory and of all its subdirectories.
function(_zov_all_targets dir out)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(sub IN LISTS subdirs)
    _zov_all_targets(${sub} sub_targets)
    list(APPEND targets ${sub_targets})
  endforeach()
  set(${out} ${targets} PARENT_SCOPE)
endfunction()

# Source files of a target and of the static libraries of this project it links.
function(_zov_target_sources target out)
  get_property(seen GLOBAL PROPERTY _ZOV_SEEN)
  if(target IN_LIST seen)
    set(${out} "" PARENT_SCOPE)
    return()
  endif()
  set_property(GLOBAL APPEND PROPERTY _ZOV_SEEN ${target})
  get_target_property(dir ${target} SOURCE_DIR)
  get_target_property(srcs ${target} SOURCES)
  set(result)
  if(srcs)
    foreach(s IN LISTS srcs)
      if(s MATCHES "^\\$<" OR NOT s MATCHES "\\.(c|cc|cpp|cxx)$")
        continue()
      endif()
      if(NOT IS_ABSOLUTE ${s})
        set(s ${dir}/${s})
      endif()
      list(APPEND result ${s})
    endforeach()
  endif()
  get_target_property(libs ${target} LINK_LIBRARIES)
  if(libs)
    foreach(lib IN LISTS libs)
      if(TARGET ${lib})
        get_target_property(imported ${lib} IMPORTED)
        get_target_property(type ${lib} TYPE)
        if(NOT imported AND type STREQUAL "STATIC_LIBRARY")
          _zov_target_sources(${lib} lib_srcs)
          list(APPEND result ${lib_srcs})
        endif()
      endif()
    endforeach()
  endif()
  set(${out} ${result} PARENT_SCOPE)
endfunction()

# The header text of one source file (without the compile date, time and stamp).
function(_zov_header_of file out)
  get_property(cached GLOBAL PROPERTY "_ZOV_HDR_${file}")
  if(cached)
    set(${out} "${cached}" PARENT_SCOPE)
    return()
  endif()
  file(RELATIVE_PATH rel ${ZOV_VERSION_SOURCE_DIR} ${file})
  get_property(count GLOBAL PROPERTY "_ZOV_GIT_COUNT_${rel}")
  get_property(last GLOBAL PROPERTY "_ZOV_GIT_LAST_${rel}")
  if(count)
    string(REPLACE "|" ";" parts "${last}")
    list(GET parts 0 when)
    list(GET parts 1 author)
    # Initials: the first letter of each word of the author's name, lower-cased.
    string(REGEX MATCHALL "[A-Za-z][^ .-]*" names "${author}")
    set(initials "")
    foreach(name IN LISTS names)
      string(SUBSTRING ${name} 0 1 first)
      string(APPEND initials ${first})
    endforeach()
    string(TOLOWER "${initials}" initials)
    if(initials STREQUAL "")
      set(initials "--")
    endif()
    set(rev "1.${count}")
  else()
    string(TIMESTAMP when "%d %b %Y %H:%M:%S" UTC)
    set(initials "--")
    set(rev "1.0")
  endif()
  set(text "$Header: ${rel} ${rev} ${when} ${initials} $ ")
  set_property(GLOBAL PROPERTY "_ZOV_HDR_${file}" "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

function(zov_version_headers_all)
  find_program(ZOV_GIT git)
  set(stamp "nogit")
  if(ZOV_GIT)
    execute_process(COMMAND ${ZOV_GIT} rev-parse --short HEAD
                    WORKING_DIRECTORY ${ZOV_VERSION_SOURCE_DIR}
                    OUTPUT_VARIABLE head OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(head)
      set(stamp "g${head}")
    endif()
  endif()
  # One walk over the history: per file the number of commits and the newest one. A merge
  # lists no files here: the check-ins it joins are counted where they were made.
  if(ZOV_GIT)
    execute_process(
      COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C TZ=UTC
              ${ZOV_GIT} log "--date=format-local:%d %b %Y %H:%M:%S" "--format=@@%ad|%an"
              --name-only
      WORKING_DIRECTORY ${ZOV_VERSION_SOURCE_DIR}
      OUTPUT_VARIABLE history ERROR_QUIET)
    string(REPLACE ";" "," history "${history}")
    string(REPLACE "\n" ";" history "${history}")
    set(commit "")
    foreach(line IN LISTS history)
      if(line MATCHES "^@@(.*)")
        set(commit "${CMAKE_MATCH_1}")
      elseif(NOT line STREQUAL "" AND NOT commit STREQUAL "")
        # Not "n": if() reads N as a false constant, whatever the variable holds.
        get_property(seen_count GLOBAL PROPERTY "_ZOV_GIT_COUNT_${line}")
        if(seen_count)
          math(EXPR seen_count "${seen_count} + 1")
        else()
          # The history runs newest first: the first commit seen is the last check-in.
          set(seen_count 1)
          set_property(GLOBAL PROPERTY "_ZOV_GIT_LAST_${line}" "${commit}")
        endif()
        set_property(GLOBAL PROPERTY "_ZOV_GIT_COUNT_${line}" ${seen_count})
      endif()
    endforeach()
  endif()
  _zov_all_targets(${CMAKE_SOURCE_DIR} targets)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    if(NOT type STREQUAL "EXECUTABLE")
      continue()
    endif()
    set_property(GLOBAL PROPERTY _ZOV_SEEN "")
    _zov_target_sources(${target} srcs)
    list(REMOVE_DUPLICATES srcs)
    list(SORT srcs)
    set(body "")
    foreach(src IN LISTS srcs)
      _zov_header_of(${src} text)
      string(APPEND body "    \"${text}\" __DATE__ \" \" __TIME__ \" ${stamp}\",\n")
    endforeach()
    set(out ${CMAKE_BINARY_DIR}/version_headers/${target}_headers.cpp)
    set(content "// Generated by the build: the version headers of the program's source files.\n")
    string(APPEND content "extern const char* const zov_version_headers[] __attribute__((weak));\n")
    string(APPEND content "__attribute__((used, retain)) const char* const zov_version_headers[] = {\n")
    string(APPEND content "${body}    nullptr};\n")
    file(CONFIGURE OUTPUT ${out} CONTENT "${content}" @ONLY)
    target_sources(${target} PRIVATE ${out})
  endforeach()
endfunction()

cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL zov_version_headers_all)
