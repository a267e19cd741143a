# What a build leaves out because a tool or library is missing. An ordinary build goes on without
# the part and says so; with DATENBANK_REQUIRE_ALL (the presets that tools/test_all.sh runs) the
# missing piece stops the configure step, so no suite is skipped without anybody noticing.
#
#   datenbank_left_out(PART REASON)
#     PART    what is not built or run ("the datenbank tool")
#     REASON  what is missing and how to get it ("CLI11 not found (Debian: libcli11-dev)")
function(datenbank_left_out part reason)
  if(DATENBANK_REQUIRE_ALL)
    message(FATAL_ERROR "Cannot build or run ${part}: ${reason}. Install what is missing with "
                        "tools/install_deps.sh --all, or configure without DATENBANK_REQUIRE_ALL.")
  endif()
  message(WARNING "Leaving out ${part}: ${reason}. tools/install_deps.sh --all installs what is "
                  "missing.")
endfunction()
