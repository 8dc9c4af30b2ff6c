// Under LeakSanitizer (the sanitize preset): libsigrok and glib keep
// allocations of their own for the life of the process, and libsigrok's
// session output leaves a few behind when it is done (--sr); they are not
// the simulator's to free.
extern "C" const char* __lsan_default_suppressions() { return "leak:g_malloc\nleak:__vasprintf_internal\n"; }
extern "C" const char* __lsan_default_options() { return "print_suppressions=0"; }
