// Writes a small seed corpus for the fuzz targets, made by the encoders:
//   fuzz_seeds <folder>   creates <folder>/{tar,map,archive,state}/seed-N
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>

#include "state/state_alloc.h"
#include "state/state_archive.h"
#include "state/state_map.h"
#include "state/tar.h"

namespace {

void write(const std::string& path, const void* data, size_t len) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return;
    std::fwrite(data, 1, len, f);
    std::fclose(f);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const std::string root = argv[1];
    for (const char* sub : {"", "/tar", "/map", "/archive", "/state"}) mkdir((root + sub).c_str(), 0755);

    size_t len = 0;
    int n = 0;
    for (const char* format : {"lv2", "vst3"}) {
        for (float c : {0.0f, 7.5f, 15.0f}) {
            void* st = vexo::plugin_state_encode(format, std::strlen(format), 48000, c, 3, 9, &len);
            std::string name = "/seed-" + std::to_string(n++);
            write(root + "/archive" + name, st, len);
            write(root + "/state" + name, st, len);
            write(root + "/tar" + name, st, len);
            vexo::state_free(st);
        }
    }
    vexo::StateMap* m = vexo::state_map_new();
    float one = 1.0f;
    vexo::state_map_add(m, "cutoff", 6, &one, 4);
    vexo::state_map_add(m, "id", 2, "brume-vexo", 10);
    vexo::state_map_add(m, "empty", 5, "", 0);
    void* map_file = vexo::state_map_encode(m, &len);
    write(root + "/map/seed-0", map_file, len);
    void* tar = vexo::tar_encode(m, &len);
    write(root + "/tar/seed-map", tar, len);
    vexo::state_free(tar);
    vexo::state_free(map_file);
    vexo::state_map_free(m);
    return 0;
}
