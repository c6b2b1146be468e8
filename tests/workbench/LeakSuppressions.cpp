// Qt loads fontconfig's configuration once for the process and never lets it
// go; the leak checker of the sanitizer build is told so, and nothing else.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
