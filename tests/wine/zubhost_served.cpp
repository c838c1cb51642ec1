// zubhost.exe's own main, renamed, for the tool server: everything it keeps
// between commands lives in `host`, which a run starts afresh.
#define main ToolMain
#include "tools/zubhost/zubhost.cpp"
#undef main

void ToolReset() { host = HostSession{}; }
