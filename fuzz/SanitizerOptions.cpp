// Built into every fuzz target: undefined behaviour ends the run as a crash
// does, so that libFuzzer writes the input out instead of printing a report
// and going on.
extern "C" const char* __ubsan_default_options() {
  return "halt_on_error=1:print_stacktrace=1";
}
