"""A virtual ISO 7816 card (vicc's library) carrying a minimal PKCS#15 file system: EF.DIR, the
PKCS#15 application with EF.ODF, EF.TokenInfo (serial, label, read-only) and an empty EF.CDF,
so that OpenSC's default driver and PKCS#15 layer show it as a token with the chosen serial.
The card is present while play() runs; ending the process removes it.

vicc 3.3 on Python 3: TLVutils.pack ends in b"".join(<bytes>), which kills every SELECT that
returns FCI/FCP, so pack is replaced here; and each APDU waits ~48 ms for a delayed ACK unless
TCP_QUICKACK is re-armed around each read."""
import errno
import logging
import socket

from virtualsmartcard.VirtualSmartcard import VirtualICC, Iso7816OS
from virtualsmartcard.SmartcardFilesystem import MF, DF, TransparentStructureEF
from virtualsmartcard.SmartcardSAM import SAM
import virtualsmartcard.TLVutils as _tlv
import virtualsmartcard.SEutils as _se
from virtualsmartcard.utils import inttostring


def _pack(tlv_data, recalculate_length=False):
    """TLVutils.pack of vsmartcard 3.3 ends in b"".join(<bytes>), a TypeError on
    Python 3, so every SELECT that returns FCI/FCP (P2=00/04) kills vicc."""
    result = b""
    for data in tlv_data:
        tag, length, value = data[:3]
        if tag in (0xff, 0x00):
            result += inttostring(tag)
            continue
        if not isinstance(value, bytes):
            value = _pack(value, recalculate_length)
        if recalculate_length:
            length = len(value)
        t = b""
        while tag > 0:
            t = inttostring(tag & 0xff) + t
            tag >>= 8
        if length < 0x7F:
            ln = inttostring(length)
        else:
            ln = b""
            while length > 0:
                ln = inttostring(length & 0xff) + ln
                length >>= 8
            ln = inttostring(0x80 | len(ln)) + ln
        result += t + ln + value
    return result


_tlv.pack = _se.pack = _pack


def tlv(tag, value):
    n = len(value)
    if n < 0x80:
        ln = bytes([n])
    elif n < 0x100:
        ln = bytes([0x81, n])
    else:
        ln = bytes([0x82, n >> 8, n & 0xff])
    return bytes([tag]) + ln + value


def seq(*parts):
    return tlv(0x30, b''.join(parts))


def path(p):
    return seq(tlv(0x04, p))


def build_card(serial, label, manufacturer, cert, readonly=True):
    mf = MF()
    # EF.DIR (2F00): one record-less transparent file with the PKCS#15 application template
    aid = bytes.fromhex('A000000063504B43532D3135')
    app = tlv(0x61, tlv(0x4F, aid) + tlv(0x50, b'PKCS15') + tlv(0x51, bytes.fromhex('3F005015')))
    mf.append(TransparentStructureEF(parent=mf, fid=0x2F00, data=app))
    p15 = DF(parent=mf, fid=0x5015, dfname=aid)
    mf.append(p15)
    # OpenSC stops (without reading EF.TokenInfo) when EF.ODF is empty, so the
    # ODF always points to an EF.CDF, which is empty when there is no cert.
    cdf = b''
    if cert is not None:
        cdf = seq(
            seq(tlv(0x0C, b'Certificate')),                       # CommonObjectAttributes.label
            seq(tlv(0x04, b'\x45')),                               # CommonCertificateAttributes.iD
            tlv(0xA1, seq(path(bytes.fromhex('3F0050154601')))))   # [1] X509CertificateAttributes.value
        p15.append(TransparentStructureEF(parent=p15, fid=0x4601, data=cert))
    p15.append(TransparentStructureEF(parent=p15, fid=0x4404, data=cdf))
    odf = tlv(0xA4, path(bytes.fromhex('3F0050154404')))          # certificates [4]
    tokeninfo = seq(tlv(0x02, b'\x00'),                            # version
                    tlv(0x04, serial),                             # serialNumber
                    tlv(0x0C, manufacturer.encode()),              # manufacturerID
                    tlv(0x80, label.encode()),                     # label [0]
                    tlv(0x03, b'\x07\x80' if readonly else b'\x00'))  # tokenflags: readonly(0) or none
    p15.append(TransparentStructureEF(parent=p15, fid=0x5031, data=odf))
    p15.append(TransparentStructureEF(parent=p15, fid=0x5032, data=tokeninfo))
    sam = SAM(b'1234', b'1234567890')
    sam.set_MF(mf)
    return mf, sam


class QuickAckSocket:
    def __init__(self, sock):
        self._sock = sock

    def recv(self, n):
        self._sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_QUICKACK, 1)
        data = self._sock.recv(n)
        self._sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_QUICKACK, 1)
        return data

    def __getattr__(self, name):
        return getattr(self._sock, name)



def play(host, port, serial, label):
    try:
        vicc = VirtualICC(None, 'iso7816', host, port, logginglevel=logging.CRITICAL)
    except SystemExit:
        # The library ends the process quietly (exit code 0) when it cannot connect.
        raise OSError(errno.ECONNREFUSED, 'no virtual reader listens there') from None
    mf, sam = build_card(serial, label, 'vsmartcard', None)
    vicc.os = Iso7816OS(mf, sam)
    vicc.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    vicc.sock = QuickAckSocket(vicc.sock)
    try:
        vicc.run()
    except KeyboardInterrupt:
        pass
