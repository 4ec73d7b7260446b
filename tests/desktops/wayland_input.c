/* Input as the compositor itself receives it (xdotool only reaches XWayland): KWin's org_kde_kwin_fake_input, or
 * wlroots' virtual pointer (sway; its keys come from wtype).
 * Usage: wayland_input STEP...   where a step is   click X Y | rclick X Y | key CODE | sleep MS
 * (rclick: with the right button; CODE: a Linux key code, 1 = Escape, 15 = Tab; KWin only). */
#include "fake-input-client-protocol.h"
#include "virtual-pointer-client-protocol.h"

#include <linux/input-event-codes.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <wayland-client.h>

static struct org_kde_kwin_fake_input* fake;
static struct zwlr_virtual_pointer_manager_v1* pointers;
static int width = 1280, height = 800;

static void global(void* data, struct wl_registry* registry, uint32_t name, const char* interface, uint32_t version)
{
    (void)data;
    if (!strcmp(interface, org_kde_kwin_fake_input_interface.name) && version >= 4) {
        fake = wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, 4);
    } else if (!strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name)) {
        pointers = wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1);
    }
}

static void global_remove(void* data, struct wl_registry* registry, uint32_t name)
{
    (void)data, (void)registry, (void)name;
}

static const struct wl_registry_listener listener = {global, global_remove};

static uint32_t now_ms(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (uint32_t)(t.tv_sec * 1000 + t.tv_nsec / 1000000);
}

static void pause_ms(struct wl_display* display, long ms)
{
    wl_display_roundtrip(display);
    struct timespec t = {ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&t, NULL);
}

int main(int argc, char** argv)
{
    if (getenv("SCREEN_SIZE")) {
        sscanf(getenv("SCREEN_SIZE"), "%dx%d", &width, &height);
    }
    struct wl_display* display = wl_display_connect(NULL);
    if (!display) {
        fprintf(stderr, "wayland_input: no Wayland display\n");
        return 1;
    }
    struct wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &listener, NULL);
    wl_display_roundtrip(display);
    struct zwlr_virtual_pointer_v1* pointer = NULL;
    if (fake) {
        org_kde_kwin_fake_input_authenticate(fake, "Kelvo checks", "drives the desktop in a test");
    } else if (pointers) {
        pointer = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(pointers, NULL);
    } else {
        fprintf(stderr, "wayland_input: the compositor offers neither fake input nor a virtual pointer\n");
        return 1;
    }
    for (int i = 1; i < argc; ++i) {
        if ((!strcmp(argv[i], "click") || !strcmp(argv[i], "rclick")) && i + 2 < argc) {
            const uint32_t button = argv[i][0] == 'r' ? BTN_RIGHT : BTN_LEFT;
            const int x = atoi(argv[i + 1]), y = atoi(argv[i + 2]);
            i += 2;
            if (fake) {
                org_kde_kwin_fake_input_pointer_motion_absolute(fake, wl_fixed_from_int(x), wl_fixed_from_int(y));
            } else {
                zwlr_virtual_pointer_v1_motion_absolute(pointer, now_ms(), x, y, width, height);
                zwlr_virtual_pointer_v1_frame(pointer);
            }
            for (int press = 1; press >= 0; --press) {
                pause_ms(display, 50);
                const uint32_t state = press ? WL_POINTER_BUTTON_STATE_PRESSED : WL_POINTER_BUTTON_STATE_RELEASED;
                if (fake) {
                    org_kde_kwin_fake_input_button(fake, button, state);
                } else {
                    zwlr_virtual_pointer_v1_button(pointer, now_ms(), button, state);
                    zwlr_virtual_pointer_v1_frame(pointer);
                }
            }
        } else if (!strcmp(argv[i], "key") && i + 1 < argc && fake) {
            const uint32_t code = (uint32_t)atoi(argv[++i]);
            org_kde_kwin_fake_input_keyboard_key(fake, code, WL_KEYBOARD_KEY_STATE_PRESSED);
            pause_ms(display, 30);
            org_kde_kwin_fake_input_keyboard_key(fake, code, WL_KEYBOARD_KEY_STATE_RELEASED);
        } else if (!strcmp(argv[i], "sleep") && i + 1 < argc) {
            pause_ms(display, atol(argv[++i]));
        } else {
            fprintf(stderr, "wayland_input: cannot do step %s here\n", argv[i]);
            return 2;
        }
        wl_display_roundtrip(display);
    }
    wl_display_disconnect(display);
    return 0;
}
