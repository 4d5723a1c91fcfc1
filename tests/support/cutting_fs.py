#!/usr/bin/python3
"""A disk whose power can be cut: a file system held in memory that keeps two states, what
was written and what reached the disk. Cut after any of its operations, it fails everything
after it; when the power returns, the disk holds what had reached it, and nothing else.

A file's bytes reach the disk only by its fsync. Its names, in one of two models:
  ordered      by the folder's fsync, which takes the bytes already written to the files
               it names with it (data before the names, as a journalling file system
               orders them)
  names-first  at once, as they are made: a name may be on the disk before the bytes it
               names (a disk that writes its folders back on its own, before the data)

It is driven by looking up control names in its root, each of which answers as a file whose
length is the number of operations counted since the last sync:
  /.cutting.reset-ordered, /.cutting.reset-names-first
                       an empty disk, flushed, in that model, with the power on
  /.cutting.sync       everything written is flushed; the count starts again
  /.cutting.cut-after-N
                       the power goes off after N more operations (counted are those that
                       change something, and the flushes)
  /.cutting.power-on   the power returns: the disk holds what was flushed
  /.cutting.count      only answers the count

usage: cutting_fs.py MOUNTPOINT (runs until unmounted)"""
import copy
import errno
import stat
import sys
import time

import fusepy

CONTROL = '/.cutting.'


class Node:
    def __init__(self, kind, mode, uid, gid):
        now = time.time_ns()
        self.kind = kind  # stat.S_IFREG, S_IFDIR or S_IFLNK
        self.mode = mode & 0o7777
        self.uid, self.gid = uid, gid
        self.atime = self.mtime = self.ctime = now
        self.data = bytearray()  # a file's bytes, a link's target
        self.entries = {}  # a folder's names: name -> node number
        self.xattrs = {}

    def touch(self, modified=True):
        now = time.time_ns()
        self.ctime = now
        if modified:
            self.mtime = now


class Cutting(fusepy.Operations):
    use_ns = True

    def __init__(self):
        self.reset('ordered')

    # The disk's two states -----------------------------------------------------------

    def reset(self, model):
        self.model = model
        self.next_number = 2
        root = Node(stat.S_IFDIR, 0o755, 0, 0)
        self.live = {1: root}
        self.flushed = {1: copy.deepcopy(root)}
        self.handles = {}
        self.next_handle = 1
        self.count = 0
        self.cut_after = None
        self.off = False

    def sync(self):
        self.flushed = copy.deepcopy(self.live)
        self.count = 0

    def power_on(self):
        self.live = copy.deepcopy(self.flushed)
        for node in self.live.values():
            if node.kind == stat.S_IFDIR:
                node.entries = {name: number for name, number in node.entries.items() if number in self.live}
        self.handles = {}
        self.cut_after = None
        self.off = False

    def flush_names(self, number):
        """The folder's names, and with them what its entries' inodes say (mode, owner,
        times); their bytes too in the ordered model."""
        folder = self.live[number]
        self.flush_attributes(number)
        self.flushed[number].entries = dict(folder.entries)
        for child in folder.entries.values():
            if self.model == 'ordered' and self.live[child].kind != stat.S_IFDIR:
                self.flush_data(child)
            else:
                self.flush_attributes(child)

    def flush_attributes(self, number):
        node = self.live[number]
        kept = self.flushed.get(number)
        if kept is None:  # never on the disk: empty, as it was made
            kept = self.flushed[number] = copy.deepcopy(node)
            kept.data = bytearray() if node.kind == stat.S_IFREG else kept.data
            kept.entries = {}
        for name in ('mode', 'uid', 'gid', 'atime', 'mtime', 'ctime', 'xattrs'):
            setattr(kept, name, copy.deepcopy(getattr(node, name)))

    def flush_data(self, number):
        self.flush_attributes(number)
        self.flushed[number].data = bytearray(self.live[number].data)

    # Counting and the cut ------------------------------------------------------------

    def check_power(self):
        if self.off:
            raise fusepy.FuseOSError(errno.EIO)

    def counted(self):
        self.check_power()
        self.count += 1
        if self.cut_after is not None and self.count >= self.cut_after:
            self.off = True  # this operation is done; the ones after it are not

    def control(self, command):
        if command.startswith('reset-'):
            self.reset(command[len('reset-'):])
        elif command == 'sync':
            self.sync()
        elif command.startswith('cut-after-'):
            self.cut_after = self.count + int(command[len('cut-after-'):])
            self.off = self.cut_after <= self.count
        elif command == 'power-on':
            self.power_on()
        elif command != 'count':
            raise fusepy.FuseOSError(errno.EINVAL)
        return {'st_mode': stat.S_IFREG | 0o444, 'st_nlink': 1, 'st_size': self.count, 'st_ino': 0xC0FFEE}

    # Paths ---------------------------------------------------------------------------

    def lookup(self, path):
        number = 1
        for name in filter(None, path.split('/')):
            node = self.live[number]
            if node.kind != stat.S_IFDIR:
                raise fusepy.FuseOSError(errno.ENOTDIR)
            if name not in node.entries:
                raise fusepy.FuseOSError(errno.ENOENT)
            number = node.entries[name]
        return number

    def parent_of(self, path):
        folder, _, name = path.rstrip('/').rpartition('/')
        number = self.lookup(folder)
        if self.live[number].kind != stat.S_IFDIR:
            raise fusepy.FuseOSError(errno.ENOTDIR)
        return number, name

    def node_of(self, path, fh=None):
        self.check_power()
        if fh and fh in self.handles:
            return self.handles[fh]
        return self.lookup(path)

    def add(self, path, node):
        parent, name = self.parent_of(path)
        folder = self.live[parent]
        if name in folder.entries:
            raise fusepy.FuseOSError(errno.EEXIST)
        number = self.next_number
        self.next_number += 1
        self.live[number] = node
        folder.entries[name] = number
        folder.touch()
        self.names_changed(parent)
        return number

    def names_changed(self, *folders):
        if self.model == 'names-first':
            for number in folders:
                self.flush_names(number)

    def links_to(self, number):
        return sum(list(node.entries.values()).count(number) for node in self.live.values()
                   if node.kind == stat.S_IFDIR)

    def open_handle(self, number):
        handle = self.next_handle
        self.next_handle += 1
        self.handles[handle] = number
        return handle

    # Operations ----------------------------------------------------------------------

    def getattr(self, path, fh=None):
        if path.startswith(CONTROL):
            return self.control(path[len(CONTROL):])
        number = self.node_of(path, fh)
        node = self.live[number]
        size = len(node.data) if node.kind != stat.S_IFDIR else 4096
        links = self.links_to(number) if node.kind != stat.S_IFDIR else 2
        return {'st_mode': node.kind | node.mode, 'st_ino': number, 'st_nlink': max(links, 1), 'st_uid': node.uid,
                'st_gid': node.gid, 'st_size': size, 'st_blocks': (size + 511) // 512, 'st_atime': node.atime,
                'st_mtime': node.mtime, 'st_ctime': node.ctime}

    def readdir(self, path, fh):
        node = self.live[self.node_of(path)]
        return ['.', '..'] + list(node.entries)

    def readlink(self, path):
        return self.live[self.node_of(path)].data.decode('utf-8', 'surrogateescape')

    def statfs(self, path):
        self.check_power()
        return {'f_bsize': 4096, 'f_frsize': 4096, 'f_blocks': 1 << 20, 'f_bfree': 1 << 19, 'f_bavail': 1 << 19,
                'f_files': 1 << 16, 'f_ffree': 1 << 15, 'f_favail': 1 << 15, 'f_namemax': 255}

    def mkdir(self, path, mode):
        self.counted()
        context = fusepy.fuse_get_context()
        self.add(path, Node(stat.S_IFDIR, mode, context[0], context[1]))

    def create(self, path, mode, fi=None):
        self.counted()
        context = fusepy.fuse_get_context()
        return self.open_handle(self.add(path, Node(stat.S_IFREG, mode, context[0], context[1])))

    def symlink(self, target, source):
        self.counted()
        context = fusepy.fuse_get_context()
        node = Node(stat.S_IFLNK, 0o777, context[0], context[1])
        node.data = bytearray(source.encode('utf-8', 'surrogateescape'))
        self.add(target, node)

    def link(self, target, source):
        self.counted()
        number = self.lookup(source)
        if self.live[number].kind == stat.S_IFDIR:
            raise fusepy.FuseOSError(errno.EPERM)
        parent, name = self.parent_of(target)
        folder = self.live[parent]
        if name in folder.entries:
            raise fusepy.FuseOSError(errno.EEXIST)
        folder.entries[name] = number
        folder.touch()
        self.live[number].touch(False)
        self.names_changed(parent)

    def unlink(self, path):
        self.counted()
        parent, name = self.parent_of(path)
        number = self.lookup(path)
        if self.live[number].kind == stat.S_IFDIR:
            raise fusepy.FuseOSError(errno.EISDIR)
        del self.live[parent].entries[name]
        self.live[parent].touch()
        self.live[number].touch(False)
        self.names_changed(parent)

    def rmdir(self, path):
        self.counted()
        parent, name = self.parent_of(path)
        node = self.live[self.lookup(path)]
        if node.kind != stat.S_IFDIR:
            raise fusepy.FuseOSError(errno.ENOTDIR)
        if node.entries:
            raise fusepy.FuseOSError(errno.ENOTEMPTY)
        del self.live[parent].entries[name]
        self.live[parent].touch()
        self.names_changed(parent)

    def rename(self, old, new):
        self.counted()
        number = self.lookup(old)
        old_parent, old_name = self.parent_of(old)
        new_parent, new_name = self.parent_of(new)
        there = self.live[new_parent].entries.get(new_name)
        if there is not None and there != number:
            replaced = self.live[there]
            if (replaced.kind == stat.S_IFDIR) != (self.live[number].kind == stat.S_IFDIR):
                raise fusepy.FuseOSError(errno.EISDIR if replaced.kind == stat.S_IFDIR else errno.ENOTDIR)
            if replaced.entries:
                raise fusepy.FuseOSError(errno.ENOTEMPTY)
        del self.live[old_parent].entries[old_name]
        self.live[new_parent].entries[new_name] = number
        self.live[old_parent].touch()
        self.live[new_parent].touch()
        self.live[number].touch(False)
        self.names_changed(old_parent, new_parent)

    def chmod(self, path, mode):
        self.counted()
        node = self.live[self.lookup(path)]
        node.mode = mode & 0o7777
        node.touch(False)

    def chown(self, path, uid, gid):
        self.counted()
        node = self.live[self.lookup(path)]
        if uid != 0xFFFFFFFF and uid != -1:
            node.uid = uid
        if gid != 0xFFFFFFFF and gid != -1:
            node.gid = gid
        node.touch(False)

    def utimens(self, path, times=None):
        self.counted()
        node = self.live[self.lookup(path)]
        now = time.time_ns()
        node.atime, node.mtime = times if times else (now, now)
        node.ctime = now

    def truncate(self, path, length, fh=None):
        self.counted()
        node = self.live[self.node_of(path, fh)]
        node.data = node.data[:length] + bytearray(max(0, length - len(node.data)))
        node.touch()

    def open(self, path, flags):
        return self.open_handle(self.node_of(path))

    def read(self, path, size, offset, fh):
        return bytes(self.live[self.node_of(path, fh)].data[offset:offset + size])

    def write(self, path, data, offset, fh):
        self.counted()
        node = self.live[self.node_of(path, fh)]
        if offset > len(node.data):
            node.data.extend(bytearray(offset - len(node.data)))
        node.data[offset:offset + len(data)] = data
        node.touch()
        return len(data)

    def fsync(self, path, datasync, fh):
        self.counted()
        self.flush_data(self.node_of(path, fh))

    def fsyncdir(self, path, datasync, fh):
        self.counted()
        self.flush_names(self.node_of(path))

    def flush(self, path, fh):
        self.check_power()

    def release(self, path, fh):
        self.handles.pop(fh, None)

    def setxattr(self, path, name, value, options, position=0):
        self.counted()
        self.live[self.node_of(path)].xattrs[name] = bytes(value)

    def getxattr(self, path, name, position=0):
        xattrs = self.live[self.node_of(path)].xattrs
        if name not in xattrs:
            raise fusepy.FuseOSError(errno.ENODATA)
        return xattrs[name]

    def listxattr(self, path):
        return list(self.live[self.node_of(path)].xattrs)

    def removexattr(self, path, name):
        self.counted()
        xattrs = self.live[self.node_of(path)].xattrs
        if name not in xattrs:
            raise fusepy.FuseOSError(errno.ENODATA)
        del xattrs[name]


if __name__ == '__main__':
    fusepy.FUSE(Cutting(), sys.argv[1], foreground=True, nothreads=True, use_ino=True, big_writes=True,
                entry_timeout=0, attr_timeout=0, negative_timeout=0, fsname='cutting')
