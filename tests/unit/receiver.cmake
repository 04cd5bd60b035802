halvorn_native_tests(receiver_tests
  receiver_tuning_test.cpp
  receiver_operations_test.cpp
  receiver_concurrency_test.cpp)
