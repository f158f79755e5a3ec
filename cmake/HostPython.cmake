# Locates the CPython 3.9 interpreter the extension modules are built for and
# asks it (through sysconfig) where its headers live, which file suffix it
# expects for extension modules and where installed modules go.
#
# find_package(Python) is deliberately not used: on machines with several
# interpreters it happily settles on a newer one, and a module built against
# the wrong headers only fails once it is imported.
#
# Sets (cache):  HOST_PYTHON              the interpreter executable
# Sets (normal): HOST_PYTHON_INCLUDE      directory holding Python.h
#                HOST_PYTHON_EXT_SUFFIX   e.g. .cpython-39-x86_64-linux-gnu.so
#                HOST_PYTHON_SITE         platlib (site-packages) directory
#
# Search order: the PYTHON cache variable, the PYTHON environment variable,
# every python3.9 on PATH, then pyenv's newest 3.9.x. A candidate is only
# accepted if it runs and reports version 3.9: pyenv shims exist on PATH for
# versions that are not selected and fail when run.

include_guard(GLOBAL)

set(HOST_PYTHON_WANTED_VERSION "3.9")

# Runs CANDIDATE and sets OUT_VAR to TRUE when it is a working 3.9 interpreter.
function(_host_python_probe candidate out_var)
  set(${out_var} FALSE PARENT_SCOPE)
  if(NOT EXISTS "${candidate}" OR IS_DIRECTORY "${candidate}")
    return()
  endif()
  execute_process(
    COMMAND "${candidate}" -c "import sys; print('%d.%d' % sys.version_info[:2])"
    RESULT_VARIABLE rc
    OUTPUT_VARIABLE out
    ERROR_QUIET
    OUTPUT_STRIP_TRAILING_WHITESPACE
    TIMEOUT 60)
  if(rc EQUAL 0 AND out STREQUAL HOST_PYTHON_WANTED_VERSION)
    set(${out_var} TRUE PARENT_SCOPE)
  endif()
endfunction()

# A bare command name (PYTHON=python3.9) is looked up on PATH.
function(_host_python_resolve name out_var)
  set(${out_var} "${name}" PARENT_SCOPE)
  if(NOT IS_ABSOLUTE "${name}" AND NOT name MATCHES "/")
    find_program(resolved NAMES "${name}" NO_CACHE)
    if(resolved)
      set(${out_var} "${resolved}" PARENT_SCOPE)
    endif()
  endif()
endfunction()

# Appends "<pyenv prefix of VERSION>/bin/python3.9" to the list LIST_VAR.
function(_host_python_pyenv_candidate pyenv version list_var)
  execute_process(
    COMMAND "${pyenv}" prefix "${version}"
    RESULT_VARIABLE rc
    OUTPUT_VARIABLE prefix
    ERROR_QUIET
    OUTPUT_STRIP_TRAILING_WHITESPACE
    TIMEOUT 60)
  if(rc EQUAL 0 AND prefix)
    # `pyenv prefix` may print several prefixes, one per line.
    string(REPLACE "\n" ";" prefixes "${prefix}")
    list(GET prefixes 0 prefix)
    set(list "${${list_var}}")
    list(APPEND list "${prefix}/bin/python${HOST_PYTHON_WANTED_VERSION}")
    set(${list_var} "${list}" PARENT_SCOPE)
  endif()
endfunction()

function(_host_python_find out_var)
  set(tried "")

  # An explicit -DPYTHON is a request, not a hint: refuse rather than
  # silently building for some other interpreter.
  if(PYTHON)
    _host_python_resolve("${PYTHON}" explicit_python)
    _host_python_probe("${explicit_python}" ok)
    if(ok)
      set(${out_var} "${explicit_python}" PARENT_SCOPE)
      return()
    endif()
    message(FATAL_ERROR
      "PYTHON=${PYTHON} was given but is not a runnable CPython "
      "${HOST_PYTHON_WANTED_VERSION} interpreter.")
  endif()

  # The environment variable is a generic name that other tools also set,
  # so a mismatch there only falls through to the next candidate.
  if(DEFINED ENV{PYTHON} AND NOT "$ENV{PYTHON}" STREQUAL "")
    _host_python_resolve("$ENV{PYTHON}" env_python)
    list(APPEND tried "PYTHON environment variable (${env_python})")
    _host_python_probe("${env_python}" ok)
    if(ok)
      set(${out_var} "${env_python}" PARENT_SCOPE)
      return()
    endif()
    message(WARNING "Ignoring PYTHON=$ENV{PYTHON}: not a runnable CPython "
                    "${HOST_PYTHON_WANTED_VERSION}.")
  endif()

  # Every python3.9 on PATH, not just the first: an earlier entry is often a
  # pyenv shim that refuses to run.
  string(REPLACE ":" ";" path_dirs "$ENV{PATH}")
  set(path_hits 0)
  foreach(dir IN LISTS path_dirs)
    if(dir STREQUAL "")
      continue()
    endif()
    set(candidate "${dir}/python${HOST_PYTHON_WANTED_VERSION}")
    if(EXISTS "${candidate}")
      math(EXPR path_hits "${path_hits} + 1")
      list(APPEND tried "${candidate} (PATH)")
      _host_python_probe("${candidate}" ok)
      if(ok)
        set(${out_var} "${candidate}" PARENT_SCOPE)
        return()
      endif()
    endif()
  endforeach()
  if(path_hits EQUAL 0)
    list(APPEND tried "python${HOST_PYTHON_WANTED_VERSION} on PATH (none)")
  endif()

  # pyenv: ask it for the 3.9 prefix, then for each installed 3.9.x, newest
  # first. If pyenv itself is not on PATH, look in its usual root.
  set(pyenv_roots "")
  if(DEFINED ENV{PYENV_ROOT})
    list(APPEND pyenv_roots "$ENV{PYENV_ROOT}")
  endif()
  if(DEFINED ENV{HOME})
    list(APPEND pyenv_roots "$ENV{HOME}/.pyenv")
  endif()
  set(pyenv_hints "")
  foreach(root IN LISTS pyenv_roots)
    list(APPEND pyenv_hints "${root}/bin" "${root}/libexec")
  endforeach()
  find_program(pyenv_exe NAMES pyenv HINTS ${pyenv_hints} NO_CACHE)
  set(pyenv_candidates "")
  if(pyenv_exe)
    _host_python_pyenv_candidate("${pyenv_exe}" "${HOST_PYTHON_WANTED_VERSION}" pyenv_candidates)
    execute_process(
      COMMAND "${pyenv_exe}" versions --bare
      RESULT_VARIABLE rc
      OUTPUT_VARIABLE versions
      ERROR_QUIET
      OUTPUT_STRIP_TRAILING_WHITESPACE
      TIMEOUT 60)
    if(rc EQUAL 0)
      string(REPLACE "\n" ";" versions "${versions}")
      string(REPLACE "." "\\." version_re "${HOST_PYTHON_WANTED_VERSION}")
      list(FILTER versions INCLUDE REGEX "^${version_re}\\.[0-9]+$")
      list(SORT versions COMPARE NATURAL ORDER DESCENDING)
      foreach(v IN LISTS versions)
        _host_python_pyenv_candidate("${pyenv_exe}" "${v}" pyenv_candidates)
      endforeach()
    endif()
  else()
    # No pyenv command, but its version folders may still be there.
    foreach(root IN LISTS pyenv_roots)
      file(GLOB found LIST_DIRECTORIES true
           "${root}/versions/${HOST_PYTHON_WANTED_VERSION}.*")
      list(SORT found COMPARE NATURAL ORDER DESCENDING)
      foreach(dir IN LISTS found)
        list(APPEND pyenv_candidates "${dir}/bin/python${HOST_PYTHON_WANTED_VERSION}")
      endforeach()
    endforeach()
  endif()
  list(REMOVE_DUPLICATES pyenv_candidates)
  foreach(candidate IN LISTS pyenv_candidates)
    list(APPEND tried "${candidate} (pyenv)")
    _host_python_probe("${candidate}" ok)
    if(ok)
      set(${out_var} "${candidate}" PARENT_SCOPE)
      return()
    endif()
  endforeach()
  if(NOT pyenv_exe AND NOT pyenv_candidates)
    list(APPEND tried "pyenv (not found)")
  elseif(NOT pyenv_candidates)
    list(APPEND tried "pyenv at ${pyenv_exe} (no ${HOST_PYTHON_WANTED_VERSION}.x installed)")
  endif()

  list(JOIN tried "\n    " tried_text)
  message(FATAL_ERROR
    "No runnable CPython ${HOST_PYTHON_WANTED_VERSION} interpreter found. Tried:\n"
    "    ${tried_text}\n"
    "Pass one with -DPYTHON=/path/to/python${HOST_PYTHON_WANTED_VERSION} "
    "(or set the PYTHON environment variable).")
endfunction()

_host_python_find(_host_python_found)
# Re-resolved on every configure so a changed PYTHON takes effect; cached so
# scripts (run-demo) can read the interpreter back from CMakeCache.txt.
set(HOST_PYTHON "${_host_python_found}" CACHE FILEPATH
    "CPython ${HOST_PYTHON_WANTED_VERSION} interpreter the modules are built for" FORCE)
unset(_host_python_found)

execute_process(
  COMMAND "${HOST_PYTHON}" -c
    "import sysconfig; p = sysconfig.get_paths(); print(p['include']); print(sysconfig.get_config_var('EXT_SUFFIX') or ''); print(p['platlib'])"
  RESULT_VARIABLE _host_python_rc
  OUTPUT_VARIABLE _host_python_out
  ERROR_VARIABLE _host_python_err
  OUTPUT_STRIP_TRAILING_WHITESPACE
  TIMEOUT 60)
if(NOT _host_python_rc EQUAL 0)
  message(FATAL_ERROR "Querying sysconfig of ${HOST_PYTHON} failed:\n${_host_python_err}")
endif()
string(REPLACE "\n" ";" _host_python_out "${_host_python_out}")
list(LENGTH _host_python_out _host_python_n)
if(NOT _host_python_n EQUAL 3)
  message(FATAL_ERROR "Unexpected sysconfig answer from ${HOST_PYTHON}: ${_host_python_out}")
endif()
list(GET _host_python_out 0 HOST_PYTHON_INCLUDE)
list(GET _host_python_out 1 HOST_PYTHON_EXT_SUFFIX)
list(GET _host_python_out 2 HOST_PYTHON_SITE)
unset(_host_python_rc)
unset(_host_python_out)
unset(_host_python_err)
unset(_host_python_n)

if(NOT EXISTS "${HOST_PYTHON_INCLUDE}/Python.h")
  message(FATAL_ERROR
    "${HOST_PYTHON} reports its headers in ${HOST_PYTHON_INCLUDE}, but Python.h "
    "is not there (install the interpreter's development headers).")
endif()
if(HOST_PYTHON_EXT_SUFFIX STREQUAL "")
  message(FATAL_ERROR "${HOST_PYTHON} reports no EXT_SUFFIX.")
endif()

message(STATUS "Host Python: ${HOST_PYTHON}")
message(STATUS "  headers:   ${HOST_PYTHON_INCLUDE}")
message(STATUS "  suffix:    ${HOST_PYTHON_EXT_SUFFIX}")
message(STATUS "  site:      ${HOST_PYTHON_SITE}")
