# The administration class against the simulated appliance, in process and
# across processes.
if(TARGET service)
  sanprov_e2e_tests(service_admin_e2e_tests SOURCES service_admin_test.cpp LINK service sanprov_messages)
endif()
