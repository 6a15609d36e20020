#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Writes the five tray icon sources (32x32 SVG) and renders the PNG sizes
the tray asks for. Frames 0-3 animate while datagrams go out (frame 0 is
also the idle icon); paused.svg is shown while the transmission is paused.
Run in this folder; needs ImageMagick's convert with an SVG delegate."""
import subprocess

MONITOR = '''  <rect x="1.5" y="12" width="20" height="13" rx="2" fill="#1d3f6e"/>
  <rect x="3.5" y="14" width="16" height="9" rx="0.5" fill="#8fc3f2"/>
  <rect x="9.5" y="25" width="4" height="3" fill="#1d3f6e"/>
  <rect x="6" y="27.8" width="11" height="2.4" rx="1" fill="#1d3f6e"/>
'''
CX, CY = 21, 12  # the waves spread from the screen's top right corner
ON, OFF = "#f08a1c", "#c9d3de"


def arc(radius, on):
    return (f'  <path d="M {CX} {CY - radius} A {radius} {radius} 0 0 1 {CX + radius} {CY}" '
            f'fill="none" stroke="{ON if on else OFF}" stroke-width="2.4" '
            f'stroke-linecap="round"/>\n')


def svg(body, title):
    return ('<?xml version="1.0" encoding="UTF-8"?>\n'
            '<svg xmlns="http://www.w3.org/2000/svg" width="32" height="32" viewBox="0 0 32 32">\n'
            f'  <title>{title}</title>\n{body}</svg>\n')


def main():
    radii = (3.2, 6, 8.8)
    names = []
    for frame in range(4):
        body = MONITOR + ''.join(arc(r, i < frame) for i, r in enumerate(radii))
        body += f'  <circle cx="{CX}" cy="{CY}" r="1.6" fill="{ON}"/>\n'
        names.append(f'frame{frame}')
        open(f'frame{frame}.svg', 'w').write(svg(body, f'Quillcast sender, frame {frame}'))
    body = MONITOR + ''.join(arc(r, False) for r in radii)
    body += f'  <circle cx="{CX}" cy="{CY}" r="1.6" fill="{OFF}"/>\n'
    body += ('  <rect x="8" y="15.5" width="2.6" height="6" fill="#1d3f6e"/>\n'
             '  <rect x="12.4" y="15.5" width="2.6" height="6" fill="#1d3f6e"/>\n')
    names.append('paused')
    open('paused.svg', 'w').write(svg(body, 'Quillcast sender, paused'))
    for name in names:
        for size in (16, 22, 24, 32, 48, 64):
            subprocess.run(['convert', '-background', 'none', '-density', '300', f'{name}.svg',
                            '-resize', f'{size}x{size}', f'png32:{name}-{size}.png'], check=True)


if __name__ == '__main__':
    main()
