// A stand-in OpenGL library that exports two entry points only, for the
// framework's module path "Modules/libGL.so.1-linux.so".
extern "C" {
__attribute__((visibility("default"))) void glEnable(unsigned) {}
__attribute__((visibility("default"))) void glTexImage2D(unsigned, int, int, int, int, int, unsigned, unsigned,
                                                         const void *) {}
}
