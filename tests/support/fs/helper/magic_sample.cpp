// A small program compiled three ways (object file, position-dependent executable, shared
// object) for the file-kind tests.

int magicSampleValue(int x) { return x * 3 + 1; }

int main(int argc, char **) { return magicSampleValue(argc) == 4 ? 0 : 1; }
