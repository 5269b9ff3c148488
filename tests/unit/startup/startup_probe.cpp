// An executable for the startup tests to point Run values and startup
// commands at; only its version resource (or the lack of one) matters.
int main() { return 0; }
