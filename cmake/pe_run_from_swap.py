"""pe_run_from_swap.py <exe>: marks a linked PE image IMAGE_FILE_NET_RUN_FROM_SWAP and
IMAGE_FILE_REMOVABLE_RUN_FROM_SWAP, then sets its checksum for the new bytes.

Started from a share or a removable drive, Windows then runs the program from a copy
in the paging file, so that a page not yet read does not depend on the drive staying
there. GNU ld has no option for these bits."""
import struct
import sys

RUN_FROM_SWAP = 0x0400 | 0x0800  # removable, network


def checksum(image, field):
    """The PE checksum: 16-bit words summed with end-around carry, the checksum field
    counted as zero, plus the file's length."""
    padded = image[:field] + b'\0\0\0\0' + image[field + 4:] + b'\0' * (len(image) % 2)
    total = 0
    for (word,) in struct.iter_unpack('<H', padded):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    return (total + len(image)) & 0xFFFFFFFF


def main(path):
    with open(path, 'rb') as f:
        image = bytearray(f.read())
    pe = struct.unpack_from('<I', image, 0x3C)[0]
    if image[:2] != b'MZ' or image[pe:pe + 4] != b'PE\0\0':
        sys.exit(f'{path}: not a PE image')
    characteristics = pe + 4 + 18  # after the signature: Machine ... SizeOfOptionalHeader
    struct.pack_into('<H', image, characteristics,
                     struct.unpack_from('<H', image, characteristics)[0] | RUN_FROM_SWAP)
    field = pe + 24 + 64  # CheckSum in the optional header, the same offset for PE32 and PE32+
    struct.pack_into('<I', image, field, checksum(image, field))
    with open(path, 'wb') as f:
        f.write(image)


if __name__ == '__main__':
    main(*sys.argv[1:])
