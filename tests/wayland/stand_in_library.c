/* A library with the name of one the Wayland menu loads and none of its
 * functions: what a system with a broken or foreign copy of it offers. */
int velmora_stand_in_library;
