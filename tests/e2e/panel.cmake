# The applet against the service's administration class and simulated appliances.
if(TARGET panel_objects AND TARGET service)
  sanprov_e2e_tests(panel_e2e_tests SOURCES panel_applet_test.cpp $<TARGET_OBJECTS:panel_objects>
                    LINK panel_objects service sanprov_messages)
endif()
