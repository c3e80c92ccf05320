// The page's process: serves one web view over the socket it is given as descriptor 3.
int main() {
    return 0;
}
