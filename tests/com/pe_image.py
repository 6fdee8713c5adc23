"""A reader of the parts of a PE32+ image that the DLL tests look at: the
export directory and the resource tree (version block and string tables)."""
import struct

RT_STRING = 6
RT_VERSION = 16


class Image:
    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        d = self.data
        if d[:2] != b"MZ":
            raise ValueError("no MZ header")
        pe = struct.unpack_from("<I", d, 0x3C)[0]
        if d[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        self.machine, sections, _, _, _, opt_size, _ = struct.unpack_from("<HHIIIHH", d, pe + 4)
        opt = pe + 24
        if struct.unpack_from("<H", d, opt)[0] != 0x20B:
            raise ValueError("not a PE32+ image")
        count = struct.unpack_from("<I", d, opt + 108)[0]
        self.directories = [struct.unpack_from("<II", d, opt + 112 + 8 * i) for i in range(count)]
        self.sections = []
        for i in range(sections):
            at = opt + opt_size + 40 * i
            vsize, va, rawsize, raw = struct.unpack_from("<IIII", d, at + 8)
            self.sections.append((va, max(vsize, rawsize), raw))

    def offset(self, rva):
        for va, size, raw in self.sections:
            if va <= rva < va + size:
                return raw + rva - va
        raise ValueError("RVA %#x lies in no section" % rva)

    def _u16(self, rva):
        return struct.unpack_from("<H", self.data, self.offset(rva))[0]

    def _u32(self, rva):
        return struct.unpack_from("<I", self.data, self.offset(rva))[0]

    def _cstr(self, rva):
        at = self.offset(rva)
        return self.data[at:self.data.index(b"\0", at)].decode("ascii")

    def exports(self):
        """{ordinal: name or None} for every ordinal with an address."""
        rva, size = self.directories[0]
        if not size:
            return {}
        base, functions, names, addresses, name_table, ordinal_table = struct.unpack_from(
            "<IIIIII", self.data, self.offset(rva) + 16)
        result = {}
        for i in range(functions):
            if self._u32(addresses + 4 * i):
                result[base + i] = None
        for i in range(names):
            ordinal = base + self._u16(ordinal_table + 2 * i)
            result[ordinal] = self._cstr(self._u32(name_table + 4 * i))
        return result

    # ---- resources

    def _resource_entries(self, root, rva):
        """(id or name, is_directory, rva) of one resource directory."""
        named, ids = struct.unpack_from("<HH", self.data, self.offset(rva) + 12)
        for i in range(named + ids):
            key, target = struct.unpack_from("<II", self.data, self.offset(rva) + 16 + 8 * i)
            if key & 0x80000000:
                at = root + (key & 0x7FFFFFFF)
                n = self._u16(at)
                start = self.offset(at + 2)
                key = self.data[start:start + 2 * n].decode("utf-16-le")
            yield key, bool(target & 0x80000000), root + (target & 0x7FFFFFFF)

    def resources(self):
        """{(type, name, language): bytes}; types and names are ints or upper-case strings."""
        root, size = self.directories[2]
        found = {}
        if not size:
            return found
        for rtype, _, types in self._resource_entries(root, root):
            for name, _, names in self._resource_entries(root, types):
                for lang, _, leaf in self._resource_entries(root, names):
                    data_rva, data_size = struct.unpack_from("<II", self.data, self.offset(leaf))
                    start = self.offset(data_rva)
                    found[(rtype, name, lang)] = self.data[start:start + data_size]
        return found

    def resource(self, rtype, name):
        for (t, n, _), data in self.resources().items():
            if t == rtype and n == name:
                return data
        return None

    def string(self, number):
        """Entry number of the string tables, or None."""
        block = self.resource(RT_STRING, number // 16 + 1)
        if block is None:
            return None
        at = 0
        for i in range(16):
            n = struct.unpack_from("<H", block, at)[0]
            text = block[at + 2:at + 2 + 2 * n].decode("utf-16-le")
            at += 2 + 2 * n
            if i == number % 16:
                return text if n else None
        return None

    def version(self):
        """(file version, product version, {string name: value}) of the version block."""
        block = self.resource(RT_VERSION, 1)
        if block is None:
            return None
        strings = {}
        fixed = {}

        def walk(at, end):
            while at + 6 <= end:
                length, value_length, kind = struct.unpack_from("<HHH", block, at)
                if length == 0:
                    break
                key_end = at + 6
                while block[key_end:key_end + 2] != b"\0\0":
                    key_end += 2
                key = block[at + 6:key_end].decode("utf-16-le")
                value_at = (key_end + 2 + 3) & ~3
                if key == "VS_VERSION_INFO":
                    sig, _, fms, fls, pms, pls = struct.unpack_from("<IIIIII", block, value_at)
                    if sig == 0xFEEF04BD:
                        fixed["file"] = (fms >> 16, fms & 0xFFFF, fls >> 16, fls & 0xFFFF)
                        fixed["product"] = (pms >> 16, pms & 0xFFFF, pls >> 16, pls & 0xFFFF)
                    walk((value_at + value_length + 3) & ~3, at + length)
                elif key in ("StringFileInfo", "VarFileInfo") or (kind == 1 and value_length == 0 and len(key) == 8
                                                                   and all(c in "0123456789abcdefABCDEF" for c in key)):
                    walk(value_at, at + length)
                elif kind == 1:
                    raw = block[value_at:value_at + 2 * value_length].decode("utf-16-le")
                    strings[key] = raw.split("\0")[0]
                at = (at + length + 3) & ~3

        walk(0, len(block))
        return fixed.get("file"), fixed.get("product"), strings
