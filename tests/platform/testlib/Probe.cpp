// A tiny library for the run-time binding tests: two exported C functions.
extern "C" {
__attribute__((visibility("default"))) int plc_probe_add(int a, int b) { return a + b; }
__attribute__((visibility("default"))) const char* plc_probe_name() { return "plcprobe"; }
}
