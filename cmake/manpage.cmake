# Writes vardex-cli(1): the page of docs/man with its verb reference, written by the program
# from the verbs' declarations, in place of the marker line.
#   cmake -DPROGRAM=vardex-cli -DPAGE=docs/man/vardex-cli.1 -DOUTPUT=out.1 -P manpage.cmake
execute_process(COMMAND ${PROGRAM} help --man OUTPUT_VARIABLE reference RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} help --man failed")
endif()
file(READ ${PAGE} page)
string(FIND "${page}" ".\\\" @VERB_REFERENCE@\n" at)
if(at EQUAL -1)
  message(FATAL_ERROR "${PAGE} has no @VERB_REFERENCE@ line")
endif()
string(REPLACE ".\\\" @VERB_REFERENCE@\n" "${reference}" page "${page}")
file(WRITE ${OUTPUT} "${page}")
