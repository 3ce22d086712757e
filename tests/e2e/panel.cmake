# The applet against the service's administration class and simulated appliances.
if(TARGET panel_objects AND TARGET service)
  sanprov_e2e_tests(panel_e2e_tests SOURCES panel_applet_test.cpp $<TARGET_OBJECTS:panel_objects>
                    LINK panel_objects service sanprov_messages)
  # cplhost and the applet library, for the test that runs them in a process of their own.
  # sanprovd and scm, for the test that lets the applet start the installed service.
  target_compile_definitions(panel_e2e_tests PRIVATE CPLHOST="$<TARGET_FILE:cplhost>"
                             SANPROVPANEL="$<TARGET_FILE:sanprovpanel>" SANPROVD="$<TARGET_FILE:sanprovd>"
                             SCM="$<TARGET_FILE:scm>")
  add_dependencies(panel_e2e_tests cplhost sanprovpanel sanprovd scm)
endif()
