# The Windows tests run under Wine in shared sessions (see wine_session.sh): the
# wine_session_start test starts a private X display and wineserver before the first of
# them, and wine_session_stop ends both after the last. The tests of the window at another
# scale, and those of an account that may not create files in C:\, run in sessions of the
# same kind of their own. Every session's prefix is a copy of one template prefix.

set(PERLWICK_WINE_SESSION ${CMAKE_BINARY_DIR}/wine)
set(PERLWICK_WINE_TEMPLATE ${PERLWICK_WINE_SESSION}/template)
set(PERLWICK_WINE_SESSION_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/wine_session.sh)

# perlwick_wine_session(NAME DIR DPI ACCOUNT): the tests wine_session[_NAME]_start and
# _stop, and the fixture wine[_NAME] that needs them. ACCOUNT is administrator or ordinary.
function(perlwick_wine_session name dir dpi account)
  set(test wine_session)
  set(fixture wine)
  if(name)
    set(test wine_session_${name})
    set(fixture wine_${name})
  endif()
  add_test(NAME ${test}_start
           COMMAND ${PERLWICK_WINE_SESSION_SCRIPT} start ${dir} ${PERLWICK_WINE_TEMPLATE} ${dpi}
                   ${account})
  # Making the template prefix the first time takes most of this.
  set_tests_properties(${test}_start PROPERTIES FIXTURES_SETUP ${fixture} TIMEOUT 300)
  add_test(NAME ${test}_stop COMMAND ${PERLWICK_WINE_SESSION_SCRIPT} stop ${dir})
  set_tests_properties(${test}_stop PROPERTIES FIXTURES_CLEANUP ${fixture} TIMEOUT 60)
endfunction()

perlwick_wine_session("" ${PERLWICK_WINE_SESSION} 96 administrator)
perlwick_wine_session(120dpi ${PERLWICK_WINE_SESSION}/120dpi 120 administrator)
perlwick_wine_session(ordinary ${PERLWICK_WINE_SESSION}/ordinary 96 ordinary)

# perlwick_run_in_wine(TARGET TEST... [SESSION name]): TARGET's tests run under Wine in
# the shared session, or in the named one. The session script sets the display, which is
# only known once Xvfb has picked it.
function(perlwick_run_in_wine target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "SESSION" "")
  set(dir ${PERLWICK_WINE_SESSION})
  set(fixture wine)
  if(arg_SESSION)
    set(dir ${PERLWICK_WINE_SESSION}/${arg_SESSION})
    set(fixture wine_${arg_SESSION})
  endif()
  set_target_properties(${target} PROPERTIES
    CROSSCOMPILING_EMULATOR "${PERLWICK_WINE_SESSION_SCRIPT};run;${dir}")
  if(arg_UNPARSED_ARGUMENTS)
    set_tests_properties(${arg_UNPARSED_ARGUMENTS} PROPERTIES
      FIXTURES_REQUIRED ${fixture}
      TIMEOUT 60
      ENVIRONMENT "WINEPREFIX=${dir}/prefix;WINEDEBUG=-all,err+all")
  endif()
endfunction()
