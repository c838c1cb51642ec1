// plcsim.exe's own main, renamed, for the tool server: its options start
// afresh with each parse, and a run that was told to stop must not stop
// the next.
#define main ToolMain
#include "tools/plcsim/plcsim_com.cpp"
#undef main

void ToolReset() { stopping = 0; }
