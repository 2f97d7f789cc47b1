# The server options the systemd unit starts ovik-printer-app with (its
# ExecStart, with the default of OVIK_PRINTER_APP_OPTIONS put in), in
# OVIK_SHIPPED_OPTIONS: every server the tests and the benchmark start runs
# with them, only its port, spool folder and log file its own.
file(READ ${PROJECT_SOURCE_DIR}/app/ovik-printer-app.service unit_text)
string(REGEX MATCH "Environment=\"OVIK_PRINTER_APP_OPTIONS=([^\"]*)\"" _ "${unit_text}")
set(unit_options "${CMAKE_MATCH_1}")
string(REGEX MATCH "ExecStart=[^ ]+ server ([^\n]*)" _ "${unit_text}")
string(REPLACE "$OVIK_PRINTER_APP_OPTIONS" "${unit_options}" OVIK_SHIPPED_OPTIONS "${CMAKE_MATCH_1}")
if(NOT OVIK_SHIPPED_OPTIONS MATCHES "server-port")
  message(FATAL_ERROR "cannot read the server options of app/ovik-printer-app.service")
endif()
