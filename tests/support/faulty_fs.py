#!/usr/bin/python3
"""A file system with a fault: every file of the folder it passes through is read and
written as it is, except that
  damage        each write stores its first byte flipped, as a failing disk or stick would
  slow RATE     writes go at RATE bytes a second, as a slow stick's do
usage: faulty_fs.py BACKING MOUNTPOINT damage|slow RATE (runs until unmounted)"""
import errno
import os
import sys
import time

import fusepy


class Faulty(fusepy.Operations):
    def __init__(self, root, fault, rate):
        self.root = root
        self.fault = fault
        self.rate = rate

    def _path(self, path):
        return os.path.join(self.root, path.lstrip('/'))

    def getattr(self, path, fh=None):
        st = os.lstat(self._path(path))
        keys = ('st_mode', 'st_nlink', 'st_uid', 'st_gid', 'st_size', 'st_atime', 'st_mtime', 'st_ctime')
        return {key: getattr(st, key) for key in keys}

    def readdir(self, path, fh):
        return ['.', '..'] + os.listdir(self._path(path))

    def mkdir(self, path, mode):
        os.mkdir(self._path(path), mode)

    def rmdir(self, path):
        os.rmdir(self._path(path))

    def unlink(self, path):
        os.unlink(self._path(path))

    def rename(self, old, new):
        if os.path.lexists(self._path(new)):
            raise fusepy.FuseOSError(errno.EEXIST)  # never replaces, whatever is asked
        os.rename(self._path(old), self._path(new))

    def link(self, target, source):
        os.link(self._path(source), self._path(target))

    def chmod(self, path, mode):
        os.chmod(self._path(path), mode)

    def chown(self, path, uid, gid):
        os.chown(self._path(path), uid, gid)

    def utimens(self, path, times=None):
        os.utime(self._path(path), times)

    def truncate(self, path, length, fh=None):
        os.truncate(self._path(path), length)

    def create(self, path, mode, fi=None):
        return os.open(self._path(path), os.O_RDWR | os.O_CREAT | os.O_EXCL, mode)

    def open(self, path, flags):
        return os.open(self._path(path), flags & ~(os.O_CREAT | os.O_EXCL))

    def read(self, path, size, offset, fh):
        os.lseek(fh, offset, os.SEEK_SET)
        return os.read(fh, size)

    def write(self, path, data, offset, fh):
        if self.fault == 'damage' and data:
            data = bytes([data[0] ^ 0x01]) + data[1:]
        if self.fault == 'slow':
            time.sleep(len(data) / self.rate)
        os.lseek(fh, offset, os.SEEK_SET)
        return os.write(fh, data)

    def fsync(self, path, datasync, fh):
        os.fsync(fh)

    def release(self, path, fh):
        os.close(fh)

    def statfs(self, path):
        st = os.statvfs(self._path(path))
        keys = ('f_bavail', 'f_bfree', 'f_blocks', 'f_bsize', 'f_favail', 'f_ffree', 'f_files', 'f_flag',
                'f_frsize', 'f_namemax')
        return {key: getattr(st, key) for key in keys}


if __name__ == '__main__':
    fault = sys.argv[3]
    rate = float(sys.argv[4]) if fault == 'slow' else 0
    fusepy.FUSE(Faulty(sys.argv[1], fault, rate), sys.argv[2], foreground=True, nothreads=True)
