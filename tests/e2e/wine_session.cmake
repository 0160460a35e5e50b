# The Windows tests run under Wine in one shared session (see wine_session.sh): the
# wine_session_start test starts a private X display and wineserver before the first of
# them, and wine_session_stop ends both after the last.

set(PERLWICK_WINE_SESSION ${CMAKE_BINARY_DIR}/wine)
set(PERLWICK_WINE_SESSION_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/wine_session.sh)

add_test(NAME wine_session_start
         COMMAND ${PERLWICK_WINE_SESSION_SCRIPT} start ${PERLWICK_WINE_SESSION})
# Making the prefix the first time takes most of this.
set_tests_properties(wine_session_start PROPERTIES FIXTURES_SETUP wine TIMEOUT 300)

add_test(NAME wine_session_stop
         COMMAND ${PERLWICK_WINE_SESSION_SCRIPT} stop ${PERLWICK_WINE_SESSION})
set_tests_properties(wine_session_stop PROPERTIES FIXTURES_CLEANUP wine TIMEOUT 60)

# perlwick_run_in_wine(TARGET TEST...): TARGET's tests run under Wine in the session.
# The session script sets the display, which is only known once Xvfb has picked it.
function(perlwick_run_in_wine target)
  set_target_properties(${target} PROPERTIES
    CROSSCOMPILING_EMULATOR "${PERLWICK_WINE_SESSION_SCRIPT};run;${PERLWICK_WINE_SESSION}")
  if(ARGN)
    set_tests_properties(${ARGN} PROPERTIES
      FIXTURES_REQUIRED wine
      TIMEOUT 60
      ENVIRONMENT "WINEPREFIX=${PERLWICK_WINE_SESSION}/prefix;WINEDEBUG=-all")
  endif()
endfunction()
