// A shared library that is not a component: it exports a function, but none
// of DllGetClassObject, DllRegisterServer and DllUnregisterServer.

extern "C" __attribute__((visibility("default"))) int MBusTestPlainFunction() { return 42; }
