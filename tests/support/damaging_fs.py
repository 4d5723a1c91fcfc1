#!/usr/bin/python3
"""A file system that damages what it stores: every file of the folder it passes through
is read and written as it is, except that each write stores its first byte flipped, as a
failing disk or stick would. usage: damaging_fs.py BACKING MOUNTPOINT (runs until unmounted)"""
import errno
import os
import sys

import fusepy


class Damaging(fusepy.Operations):
    def __init__(self, root):
        self.root = root

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
        damaged = bytes([data[0] ^ 0x01]) + data[1:] if data else data
        os.lseek(fh, offset, os.SEEK_SET)
        return os.write(fh, damaged)

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
    fusepy.FUSE(Damaging(sys.argv[1]), sys.argv[2], foreground=True, nothreads=True)
