#!/usr/bin/python3
"""A folder shared over SFTP, with no daemon and nothing listening: sshfs in passive mode
talks to an sftp-server over a socket pair. Runs until the mount is unmounted.

usage: sftp_mount.py SERVER REMOTE_FOLDER MOUNTPOINT"""
import socket
import subprocess
import sys

server_end, client_end = socket.socketpair()
server = subprocess.Popen([sys.argv[1]], stdin=server_end, stdout=server_end)
mount = subprocess.Popen(['sshfs', '-f', '-o', 'passive', 'share:' + sys.argv[2], sys.argv[3]],
                         stdin=client_end, stdout=client_end)
server_end.close()
client_end.close()
sys.exit(mount.wait())
