# Runs one of the README's tour programs from the source folder: it must exit 0 and print
# each expected line, in this order.
# -DPROGRAM=path -DTOUR=c|cpp -DSOURCE_DIR=the project's folder
if(TOUR STREQUAL "c")
  set(expected "maintenance port: 2222\n"
               "<service name=\"maintenance\" port=\"2223\" enabled=\"false\" retries=\"3\"/>\n"
               "</gw:gateway>\n")
else()
  set(expected "telemetry on port 8443\nmaintenance on port 2222\n<gw:gateway "
               "<logging level=\"info\" max-files=\"12\">\n"
               "<path>/var/log/gateway/gateway.log</path>\n<rotate>daily</rotate>\n</logging>\n"
               "</gw:gateway>\n")
endif()
execute_process(COMMAND ${PROGRAM} WORKING_DIRECTORY ${SOURCE_DIR} RESULT_VARIABLE status
                OUTPUT_VARIABLE output ERROR_VARIABLE errors)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "exit status ${status}\n${errors}")
endif()
set(rest "${output}")
foreach(line IN LISTS expected)
  string(FIND "${rest}" "${line}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "missing, or out of order:\n${line}\nin the output:\n${output}")
  endif()
  string(LENGTH "${line}" length)
  math(EXPR at "${at} + ${length}")
  string(SUBSTRING "${rest}" ${at} -1 rest)
endforeach()
