# pyserial (Debian's, an RFC 2217 client of its own) on publish --share,
# without ign_set_control, so every setting's answer is awaited: reads the
# device's lines, asks for its data and reads the answer, then sees a second
# client refused while it keeps the line. Prints what failed; exit 0 when all held.
import socket, sys, time
import serial

def words(data):
    for line in data.split(b'\r')[1:-1]:  # the first may be cut
        value = 0
        for byte in line[:-1]:
            value = value << 4 | byte >> 4
        yield value

def read_for(port, seconds):
    data, end = b'', time.monotonic() + seconds
    while time.monotonic() < end:
        data += port.read(256)
    return list(words(data))

url = sys.argv[1]
port = serial.serial_for_url(url, baudrate=9600, bytesize=8, parity='N', stopbits=1, timeout=0.1)
heard = read_for(port, 1.5)
if not any(w < 300 for w in heard): sys.exit('no measurement line: %r' % heard[:20])
port.write(bytes.fromhex('F1E111A1840D'))  # the data request
answer = read_for(port, 2.5)
if not any(3000 <= w < 3010 for w in answer): sys.exit('no parameter answer')
if not any(65200 <= w < 65500 for w in answer): sys.exit('no device text')
host, tcp = url[len('rfc2217://'):].split(':')
second = socket.create_connection((host, int(tcp)), timeout=3)
refusal = second.recv(200)
if b'in use' not in refusal or second.recv(200) != b'': sys.exit('second client not refused: %r' % refusal)
if not any(w < 300 for w in read_for(port, 1)): sys.exit('the first client lost the line')
print('ok')
