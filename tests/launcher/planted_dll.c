/* A harmless DLL that the loader tests plant where a hostile one would lie. */
__declspec(dllexport) int QlnPlanted(void) { return 7; }
