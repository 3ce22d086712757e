# The SAN model's filer control facade against the simulated appliance.
if(TARGET model AND TARGET model_test_support)
  sanprov_e2e_tests(model_frame_e2e_tests SOURCES model_frame_test.cpp LINK model model_test_support sanprov_messages)
endif()
