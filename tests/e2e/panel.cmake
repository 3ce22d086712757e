# The applet against the service's administration class and simulated appliances.
if(TARGET panel_objects AND TARGET service)
  sanprov_e2e_tests(panel_e2e_tests SOURCES panel_applet_test.cpp $<TARGET_OBJECTS:panel_objects>
                    LINK panel_objects service sanprov_messages)
  # cplhost and the applet library, for the test that runs them in a process of their own.
  target_compile_definitions(panel_e2e_tests PRIVATE CPLHOST="$<TARGET_FILE:cplhost>"
                             SANPROVPANEL="$<TARGET_FILE:sanprovpanel>")
  add_dependencies(panel_e2e_tests cplhost sanprovpanel)
endif()
