// The program that owns a test precompiled header: it only has to build.
int main() {
    return 0;
}
