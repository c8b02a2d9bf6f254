// A loadable module without any server export, for the runtime's failure paths.
extern "C" __attribute__((visibility("default"))) int ComrtTestNothingHere()
{
    return 42;
}
