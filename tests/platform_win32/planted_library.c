/* A DLL that the tests put beside the program, where a bare-name LoadLibraryW would find it. */
__declspec(dllexport) int PlantedLibraryMarker(void) { return 42; }
