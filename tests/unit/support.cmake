# The shared test support's own oracles: the counting host and the recording
# oracle must see what they are there to see.
halvorn_native_tests(support_tests support_oracle_test.cpp)
