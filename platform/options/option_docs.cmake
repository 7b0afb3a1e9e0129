# Writes what quorvane_option_docs gives into the files of SOURCE_DIR, below
# OUTPUT_DIR: whole files for the example configuration and the completion,
# the marked blocks of the man page and the operator guide. With CHECK set it
# then fails when any of them differs from SOURCE_DIR's.
# cmake -DGENERATOR=... -DSOURCE_DIR=... -DOUTPUT_DIR=... [-DCHECK=ON] -P option_docs.cmake
foreach(variable GENERATOR SOURCE_DIR OUTPUT_DIR)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "option_docs.cmake needs -D${variable}=...")
  endif()
endforeach()

function(generated format into)
  execute_process(COMMAND ${GENERATOR} ${format} OUTPUT_VARIABLE text RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${GENERATOR} ${format} failed: ${status}")
  endif()
  set(${into} "${text}" PARENT_SCOPE)
endfunction()

# FILE with the lines between the lines BEGIN and END replaced by TEXT.
function(write_block file begin end text)
  file(READ ${SOURCE_DIR}/${file} content)
  string(FIND "${content}" "${begin}\n" first)
  string(FIND "${content}" "\n${end}\n" last)
  if(first EQUAL -1 OR last EQUAL -1 OR last LESS first)
    message(FATAL_ERROR "${file} lacks the lines ${begin} and ${end}")
  endif()
  string(LENGTH "${begin}\n" skip)
  math(EXPR body_start "${first} + ${skip}")
  string(SUBSTRING "${content}" 0 ${body_start} head)
  math(EXPR tail_start "${last} + 1")
  string(SUBSTRING "${content}" ${tail_start} -1 tail)
  file(WRITE ${OUTPUT_DIR}/${file} "${head}${text}${tail}")
endfunction()

set(files packaging/quorvane.conf packaging/completion/quorvane docs/man/quorvane.1.scd
          docs/operating.md)
generated(conf conf)
file(WRITE ${OUTPUT_DIR}/packaging/quorvane.conf "${conf}")
generated(completion completion)
file(WRITE ${OUTPUT_DIR}/packaging/completion/quorvane "${completion}")
generated(man man)
write_block(docs/man/quorvane.1.scd "; options:begin" "; options:end" "${man}")
generated(markdown markdown)
write_block(docs/operating.md "<!-- options:begin -->" "<!-- options:end -->" "${markdown}")

if(CHECK)
  set(stale "")
  foreach(file ${files})
    execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${SOURCE_DIR}/${file}
                            ${OUTPUT_DIR}/${file} RESULT_VARIABLE differs)
    if(differs)
      execute_process(COMMAND diff -u ${SOURCE_DIR}/${file} ${OUTPUT_DIR}/${file})
      list(APPEND stale ${file})
    endif()
  endforeach()
  if(stale)
    list(JOIN stale ", " names)
    message(FATAL_ERROR "The option table and ${names} disagree. Mend them with: "
                        "cmake --build build --target update_option_docs")
  endif()
  message(STATUS "The docs, quorvane.conf and the completion follow the option table")
endif()
