# Randomised host sessions and fault injection against the core assembled
# with the simulated receiver library.
halvorn_native_tests(reliability_tests
  reliability_session_test.cpp
  reliability_fault_test.cpp)
