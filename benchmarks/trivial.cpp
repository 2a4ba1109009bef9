// A Windows program that does nothing and exits with 0: what any program,
// built like the helper (static runtimes, GUI subsystem), costs to start under
// Wine, and how small it can be.
int main() { return 0; }
