# How many transitions module/transitions.h lists, as a number and as a word
# (the version resource says "six transitions"). A row is counted by the line
# that begins it with ORV_TRANSITION(; the module checks the count against its
# own table when it compiles.
#
#   include(cmake/transitions.cmake)  then  orv_transitions(COUNT WORD)
#   cmake -P cmake/transitions.cmake  prints the word
set(ORV_TRANSITIONS_HEADER ${CMAKE_CURRENT_LIST_DIR}/../module/transitions.h)

function(orv_transitions count_var word_var)
  file(READ ${ORV_TRANSITIONS_HEADER} text)
  string(REGEX MATCHALL "\n *ORV_TRANSITION\\(" rows "${text}")
  list(LENGTH rows count)
  set(words one two three four five six seven eight nine ten eleven twelve)
  list(LENGTH words most)
  if(count EQUAL 0 OR count GREATER most)
    message(FATAL_ERROR "${ORV_TRANSITIONS_HEADER}: ${count} rows; 1 to ${most} have a word")
  endif()
  math(EXPR at "${count} - 1")
  list(GET words ${at} word)
  set(${count_var} ${count} PARENT_SCOPE)
  set(${word_var} ${word} PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  orv_transitions(count word)
  execute_process(COMMAND ${CMAKE_COMMAND} -E echo "${word}")
endif()
