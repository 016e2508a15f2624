/* A program that does nothing: what starting a process costs under Wine. */
int main(void) { return 0; }
