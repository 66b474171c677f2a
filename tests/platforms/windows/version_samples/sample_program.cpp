// The program inside each version sample; the tests only read its resources.
int main() { return 0; }
