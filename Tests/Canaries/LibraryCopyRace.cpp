// Our code writes a buffer of ours on one thread while Qt copies it, or frees it, on another, with nothing
// ordering them: the thread check must report it although Qt's side of the race is made inside Qt.
#include <QByteArray>

#include <chrono>
#include <cstring>
#include <string_view>
#include <thread>
#include <vector>

namespace {

constexpr int size = 4096;

// The write comes first; the library's access follows a moment later on the other thread, unordered with it.
void later() {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
}

int writeWhileQtCopies() {
    std::vector<char> buffer(size, 'a');
    std::thread writer([&buffer] { buffer[size / 2] = 'b'; });
    std::thread copier([&buffer] {
        later();
        const QByteArray copy(buffer.data(), size);
        (void)copy;
    });
    writer.join();
    copier.join();
    return 0;
}

int writeWhileQtFrees() {
    QByteArray array(size, 'a');
    char* data = array.data();
    // Near the block's start: a free is checked against the first kilobyte of its block only.
    std::thread writer([data] { data[1] = 'b'; });
    std::thread freer([array = std::move(array)]() mutable {
        later();
        array.reserve(4 * size); // Qt moves the block: it copies and frees the old one
    });
    writer.join();
    freer.join();
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string_view road = argc > 1 ? argv[1] : "";
    if (road == "copy")
        return writeWhileQtCopies();
    if (road == "free")
        return writeWhileQtFrees();
    return 2;
}
