# The C, Python and Go code the README and docs/ show is cut from files of
# the tree (the example hosts the suite builds and runs, the public header):
# each such block follows a line
#   <!-- snippet: examples/go/main.go -->
# and must be whole lines of that file, as they are there. Fails, naming the
# block, when a block has no such line, names a file that is not there, or no
# longer matches its file; and when the README no longer quotes each example
# host.
#
#   cmake -DROOT=<source dir> -P DocSnippets.cmake
cmake_minimum_required(VERSION 3.25)

# Languages whose blocks must be excerpts (Swift is not built here).
set(checked_languages c python go)
# Files the README must quote at least once.
set(required_in_readme examples/host/host.c examples/python/grellan_host.py examples/go/main.go)

set(failures "")
set(quoted_by_readme "")

# Cuts the text in `var` at the first `separator`: what comes before it goes
# to `head_var`, what comes after it stays in `var`; `found_var` says whether
# there was one (without one, nothing changes).
function(cut var separator head_var found_var)
  string(FIND "${${var}}" "${separator}" at)
  if(at EQUAL -1)
    set(${found_var} FALSE PARENT_SCOPE)
    return()
  endif()
  string(SUBSTRING "${${var}}" 0 ${at} head)
  string(LENGTH "${separator}" length)
  math(EXPR after "${at} + ${length}")
  string(SUBSTRING "${${var}}" ${after} -1 tail)
  set(${head_var} "${head}" PARENT_SCOPE)
  set(${var} "${tail}" PARENT_SCOPE)
  set(${found_var} TRUE PARENT_SCOPE)
endfunction()

# Checks every fenced block of one Markdown file.
function(check_markdown doc)
  file(READ "${ROOT}/${doc}" text)
  set(rest "\n${text}")
  while(TRUE)
    cut(rest "\n```" before opened)
    if(NOT opened)
      break()
    endif()
    cut(rest "\n" lang ignored)
    cut(rest "\n```" body closed)
    if(NOT closed)
      list(APPEND failures "${doc}: a \`\`\`${lang} block is never closed")
      break()
    endif()

    # The first line of the block names it in messages.
    set(lines "${body}")
    cut(lines "\n" first_line ignored)
    string(REPLACE ";" "," first_line "${first_line}")
    set(block "${doc}: the ${lang} block \"${first_line}\"")
    string(REGEX MATCH "<!-- snippet: ([^ ]+) -->$" marker "${before}")
    set(source "${CMAKE_MATCH_1}")
    if(NOT marker)
      if(lang IN_LIST checked_languages)
        list(APPEND failures "${block} names no example file (<!-- snippet: FILE --> above it)")
      endif()
      continue()
    endif()
    if(NOT EXISTS "${ROOT}/${source}")
      list(APPEND failures "${block} names ${source}, which does not exist")
      continue()
    endif()
    file(READ "${ROOT}/${source}" example)
    string(FIND "\n${example}\n" "\n${body}\n" found)
    if(found EQUAL -1)
      list(APPEND failures "${block} is no longer in ${source}: copy it from there again")
    endif()
    if(doc STREQUAL "README.md")
      list(APPEND quoted_by_readme "${source}")
    endif()
  endwhile()
  set(failures "${failures}" PARENT_SCOPE)
  set(quoted_by_readme "${quoted_by_readme}" PARENT_SCOPE)
endfunction()

file(GLOB docs RELATIVE "${ROOT}" "${ROOT}/docs/*.md")
foreach(doc README.md ${docs})
  check_markdown("${doc}")
endforeach()
foreach(required IN LISTS required_in_readme)
  if(NOT required IN_LIST quoted_by_readme)
    list(APPEND failures "README.md quotes nothing of ${required}")
  endif()
endforeach()

if(failures)
  list(JOIN failures "\n  " message)
  message(FATAL_ERROR "snippets that do not match their files:\n  ${message}")
endif()
list(LENGTH quoted_by_readme count)
message(STATUS "${count} README snippets match their example files")
