#pragma once
// The built-in demo: the controls against simulated PLCs, with a verdict per control.

namespace plc::plclink {

// Runs the demo, printing to standard output; 0 when every step matched.
int RunDemo();

}  // namespace plc::plclink
