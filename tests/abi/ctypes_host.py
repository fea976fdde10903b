"""A host in Python: ctypes loads MARVEK's library (RTLD_GLOBAL), then the
driver. Python links the C library, whose err(3) ends the process: every
message must still reach MARVEK's err."""
import ctypes
import os
import sys
import tempfile

libdir = sys.argv[1]
work = tempfile.mkdtemp(prefix="brelk-ctypes-")
log = os.path.join(work, "marvek.log")
os.environ["MARVEK_LOG"] = log
os.chdir(work)

ctypes.CDLL(os.path.join(libdir, "libmarvek.so"), mode=ctypes.RTLD_GLOBAL)
driver = ctypes.CDLL(os.path.join(libdir, "libbrelk.so"))


class DriverRequest(ctypes.Structure):
    _fields_ = [("privateBlock", ctypes.c_void_p), ("code", ctypes.c_int32),
                ("fileNumber", ctypes.c_int32), ("unused", ctypes.c_uint8 * 4),
                ("payload", ctypes.c_void_p)]


class DriverInfo(ctypes.Structure):
    _fields_ = [("infoA", ctypes.c_int32), ("driverName", ctypes.c_char_p),
                ("banner", ctypes.c_char_p), ("privateSize", ctypes.c_int32),
                ("infoB", ctypes.c_int32), ("infoC", ctypes.c_int16),
                ("unused", ctypes.c_uint8 * 6), ("infoD", ctypes.c_int32)]


driver.KelMain.restype = ctypes.c_int32
driver.KelMain.argtypes = [ctypes.POINTER(DriverRequest)]

info = DriverInfo()
request = DriverRequest(None, 14, 0, (ctypes.c_uint8 * 4)(), ctypes.cast(ctypes.pointer(info), ctypes.c_void_p))
assert driver.KelMain(ctypes.byref(request)) == 0
assert info.driverName == b"Omron AnyNet TCP/IP", info.driverName

block = ctypes.create_string_buffer(info.privateSize)
params = (ctypes.c_int32 * 5)(0, 0, 0, 0, 5)  # 16 unused bytes, then the timeout
request = DriverRequest(ctypes.cast(block, ctypes.c_void_p), 1, 3, (ctypes.c_uint8 * 4)(),
                        ctypes.cast(params, ctypes.c_void_p))
assert driver.KelMain(ctypes.byref(request)) == 1  # no INT file here
request.code = 11
assert driver.KelMain(ctypes.byref(request)) == 0

with open(log) as f:
    lines = f.read().splitlines()
assert len(lines) == 3, lines
assert lines[0].startswith("8 BRELK> version compiled on "), lines[0]
assert lines[1] == "32 Int File not found!. Check again your INT file name!", lines[1]
assert lines[2] == "32 Timeout used for the TCP/IP Sockect is: 0 Sec and 50000 Micro's", lines[2]
print("ctypes_host: all checks passed")
