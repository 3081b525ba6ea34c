// Writes one byte past a heap block: the address check must report it.
#include <cstdlib>

int main(int argc, char**) {
    char* block = new char[8];
    volatile int past = 7 + argc; // 8 when run without arguments
    block[past] = 1;
    const int result = block[0];
    delete[] block;
    return result;
}
