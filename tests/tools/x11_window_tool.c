/* Small X11 client for process-level tests of the windowed program:
 *   x11_window_tool find TITLE TIMEOUT_MS     prints "<count> <width> <height>"
 *                                             of the windows with that title
 *   x11_window_tool close TITLE               asks the window to close through
 *                                             the WM_DELETE_WINDOW protocol
 *   x11_window_tool screenshot TITLE FILE.png saves the window's pixels
 *   x11_window_tool titles                    prints every named window's
 *                                             title, one a line (for reports)
 * Exit status 0 on success, 1 when the window is not there (or not shown),
 * 2 on errors. */
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <png.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#define MAX_MATCHES 16

static int collect(Display* display, Window window, const char* title, Window* matches, int count)
{
    char* name = NULL;
    if (XFetchName(display, window, &name) && name != NULL) {
        if (strcmp(name, title) == 0 && count < MAX_MATCHES) matches[count++] = window;
        XFree(name);
    }
    Window root, parent, *children = NULL;
    unsigned int childCount = 0;
    if (XQueryTree(display, window, &root, &parent, &children, &childCount)) {
        for (unsigned int i = 0; i < childCount; ++i) count = collect(display, children[i], title, matches, count);
        if (children != NULL) XFree(children);
    }
    return count;
}

/* X errors (such as a window that vanished or is not yet shown) make the
 * request fail quietly instead of ending the tool with a message. */
static int lastXError = 0;
static int recordXError(Display* display, XErrorEvent* event)
{
    (void)display;
    lastXError = event->error_code;
    return 0;
}

static void printTitles(Display* display, Window window)
{
    char* name = NULL;
    if (XFetchName(display, window, &name) && name != NULL) {
        printf("%s\n", name);
        XFree(name);
    }
    Window root, parent, *children = NULL;
    unsigned int childCount = 0;
    if (XQueryTree(display, window, &root, &parent, &children, &childCount)) {
        for (unsigned int i = 0; i < childCount; ++i) printTitles(display, children[i]);
        if (children != NULL) XFree(children);
    }
}

static int findWindows(Display* display, const char* title, Window* matches)
{
    return collect(display, DefaultRootWindow(display), title, matches, 0);
}

static int writePng(const char* path, XImage* image, int width, int height)
{
    FILE* file = fopen(path, "wb");
    if (file == NULL) return 0;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, NULL, NULL, NULL);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        fclose(file);
        return 0;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, (png_uint_32)width, (png_uint_32)height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    unsigned char* row = malloc((size_t)width * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            unsigned long pixel = XGetPixel(image, x, y);
            row[x * 3 + 0] = (unsigned char)((pixel & image->red_mask) >> 16);
            row[x * 3 + 1] = (unsigned char)((pixel & image->green_mask) >> 8);
            row[x * 3 + 2] = (unsigned char)(pixel & image->blue_mask);
        }
        png_write_row(png, row);
    }
    free(row);
    png_write_end(png, NULL);
    png_destroy_write_struct(&png, &info);
    fclose(file);
    return 1;
}

int main(int argc, char** argv)
{
    if (argc == 2 && strcmp(argv[1], "titles") == 0) {
        Display* display = XOpenDisplay(NULL);
        if (display == NULL) return 2;
        printTitles(display, DefaultRootWindow(display));
        return 0;
    }
    if (argc < 3) {
        fprintf(stderr, "usage: %s find|close|screenshot TITLE [TIMEOUT_MS|FILE] | titles\n", argv[0]);
        return 2;
    }
    Display* display = XOpenDisplay(NULL);
    if (display == NULL) {
        fprintf(stderr, "cannot open display\n");
        return 2;
    }
    XSetErrorHandler(recordXError);
    const char* command = argv[1];
    const char* title = argv[2];
    Window matches[MAX_MATCHES];
    int count = findWindows(display, title, matches);

    if (strcmp(command, "find") == 0) {
        const long timeoutMs = argc > 3 ? atol(argv[3]) : 0;
        struct timespec pause = {0, 50 * 1000 * 1000};
        for (long waited = 0; count == 0 && waited < timeoutMs; waited += 50) {
            nanosleep(&pause, NULL);
            count = findWindows(display, title, matches);
        }
        if (count == 0) {
            printf("0 0 0\n");
            return 1;
        }
        XWindowAttributes attributes;
        XGetWindowAttributes(display, matches[0], &attributes);
        printf("%d %d %d\n", count, attributes.width, attributes.height);
        return 0;
    }
    if (count == 0) return 1;
    if (strcmp(command, "close") == 0) {
        XEvent event;
        memset(&event, 0, sizeof(event));
        event.xclient.type = ClientMessage;
        event.xclient.window = matches[0];
        event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = (long)XInternAtom(display, "WM_DELETE_WINDOW", False);
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(display, matches[0], False, NoEventMask, &event);
        XFlush(display);
        XCloseDisplay(display);
        return 0;
    }
    if (strcmp(command, "screenshot") == 0 && argc > 3) {
        XWindowAttributes attributes;
        if (!XGetWindowAttributes(display, matches[0], &attributes) || attributes.map_state != IsViewable) return 1;
        XImage* image = XGetImage(display, matches[0], 0, 0, (unsigned)attributes.width, (unsigned)attributes.height,
                                  AllPlanes, ZPixmap);
        if (image == NULL || lastXError != 0) return 1;
        const int written = writePng(argv[3], image, attributes.width, attributes.height);
        XDestroyImage(image);
        return written ? 0 : 2;
    }
    fprintf(stderr, "unknown command %s\n", command);
    return 2;
}
