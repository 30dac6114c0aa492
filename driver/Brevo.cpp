// Program entry; the run sequence lands with the entry.
int main() { return 0; }
