# The administration class against the simulated appliance, in process and
# across processes.
if(TARGET service)
  sanprov_e2e_tests(service_admin_e2e_tests SOURCES service_admin_test.cpp LINK service sanprov_messages)
endif()

# sanprovd itself: install, reinstall, uninstall, and a plain COM server.
if(TARGET sanprovd AND TARGET scm AND TARGET vdsctl)
  sanprov_e2e_tests(sanprovd_e2e_tests SOURCES sanprovd_test.cpp LINK service sanprov_messages)
  target_compile_definitions(sanprovd_e2e_tests PRIVATE SANPROVD="$<TARGET_FILE:sanprovd>" SCM="$<TARGET_FILE:scm>"
                                                        VDSCTL="$<TARGET_FILE:vdsctl>")
  add_dependencies(sanprovd_e2e_tests sanprovd scm vdsctl)
endif()
