// The interface version that a 32-bit Linux host asks of every plug-in it loads. Compiled into
// each Linux x86 plug-in by add_mex_plugin and exported beside the gateway.

extern "C" __attribute__((visibility("default"))) const char* mexVersion(void)
{
    return "MATLAB R14 native";
}
