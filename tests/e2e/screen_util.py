"""What the test display shows: pixels read straight from the X server
(XGetImage over ctypes, a few milliseconds for a window), so a picture
can be taken within a fade of a hundred milliseconds."""
import ctypes


class _XImage(ctypes.Structure):
    # The leading fields of Xlib's XImage, up to those read here.
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.c_void_p), ("byte_order", ctypes.c_int),
                ("bitmap_unit", ctypes.c_int), ("bitmap_bit_order", ctypes.c_int), ("bitmap_pad", ctypes.c_int),
                ("depth", ctypes.c_int), ("bytes_per_line", ctypes.c_int), ("bits_per_pixel", ctypes.c_int)]


class Picture:
    """A rectangle of the screen: pixel(x, y) -> (r, g, b), x and y within it."""

    def __init__(self, width, height, rows):
        self.width = width
        self.height = height
        self.rows = rows

    def pixel(self, x, y):
        row = self.rows[y]
        b, g, r = row[4 * x], row[4 * x + 1], row[4 * x + 2]
        return r, g, b

    def differences(self, other):
        """The points where two pictures of the same rectangle differ."""
        points = []
        for y in range(self.height):
            a, b = self.rows[y], other.rows[y]
            if a == b:
                continue
            for x in range(self.width):
                if a[4 * x:4 * x + 3] != b[4 * x:4 * x + 3]:
                    points.append((x, y))
        return points

    def __eq__(self, other):
        return self.rows == other.rows


class Screen:
    """One connection to the X display; grab() takes a rectangle of the root window."""

    def __init__(self, display):
        self.x11 = ctypes.CDLL("libX11.so.6")
        self.x11.XOpenDisplay.restype = ctypes.c_void_p
        self.x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x11.XDefaultRootWindow.restype = ctypes.c_ulong
        self.x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        self.x11.XGetImage.restype = ctypes.POINTER(_XImage)
        self.x11.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
                                       ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
        self.x11.XFree.argtypes = [ctypes.c_void_p]
        self.x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.dpy = self.x11.XOpenDisplay(display.encode())
        if not self.dpy:
            raise RuntimeError("cannot open display %s" % display)
        self.root = self.x11.XDefaultRootWindow(self.dpy)

    def grab(self, x, y, width, height):
        image = self.x11.XGetImage(self.dpy, self.root, x, y, width, height, 0xFFFFFFFF, 2)  # ZPixmap
        if not image:
            raise RuntimeError("XGetImage failed")
        im = image.contents
        if im.bits_per_pixel != 32:
            raise RuntimeError("the display has %d bits per pixel, not 32" % im.bits_per_pixel)
        data = ctypes.string_at(im.data, im.bytes_per_line * height)
        rows = [data[r * im.bytes_per_line:r * im.bytes_per_line + 4 * width] for r in range(height)]
        self.x11.XFree(im.data)
        self.x11.XFree(image)
        return Picture(width, height, rows)

    def close(self):
        self.x11.XCloseDisplay(self.dpy)
