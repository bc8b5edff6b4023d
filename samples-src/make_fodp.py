#!/usr/bin/env python3
"""Writes the sample decks' text sources as flat presentation XML (.fodp).

Every slide says which deck and which slide it is, so a printed page can be
recognised. scripts/make-samples.sh converts them into the shipped formats.
"""
import sys
from pathlib import Path
from xml.sax.saxutils import escape

DECKS = {
    # file stem: (title, format, [(heading, body lines), ...])
    "Quarterly Review": ("pptx", [
        ("Quarterly Review", ["Sales grew in every region", "Support tickets fell by a fifth"]),
        ("Numbers", ["Revenue: up 12 %", "Costs: flat"]),
        ("Next Quarter", ["Hire two engineers", "Open the northern office"]),
    ]),
    "Team Onboarding": ("ppt", [
        ("Welcome to the Team", ["Who we are", "How we work"]),
        ("Your First Week", ["Meet your mentor", "Set up your desk and accounts"]),
    ]),
    "Product Roadmap": ("odp", [
        ("Product Roadmap", ["Where we are going this year"]),
        ("Spring", ["Faster start-up", "Printing from the queue"]),
        ("Summer", ["Folder watching", "Better error reports"]),
        ("Autumn", ["Themes", "Accessibility review"]),
    ]),
    "Safety Briefing": ("pptx", [
        ("Safety Briefing", ["Exits, alarms and first aid"]),
        ("In Case of Fire", ["Leave by the nearest exit", "Meet at the car park"]),
    ]),
}

HEAD = """<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0"
 xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"
 xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0"
 xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0"
 xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0"
 xmlns:presentation="urn:oasis:names:tc:opendocument:xmlns:presentation:1.0"
 office:version="1.2" office:mimetype="application/vnd.oasis.opendocument.presentation">
 <office:automatic-styles>
  <style:page-layout style:name="PM1">
   <style:page-layout-properties fo:margin-top="0cm" fo:margin-bottom="0cm" fo:margin-left="0cm"
    fo:margin-right="0cm" fo:page-width="28cm" fo:page-height="15.75cm" style:print-orientation="landscape"/>
  </style:page-layout>
  <style:style style:name="dp1" style:family="drawing-page">
   <style:drawing-page-properties draw:fill="solid" draw:fill-color="#f4f7fb"/>
  </style:style>
  <style:style style:name="gr1" style:family="graphic">
   <style:graphic-properties draw:stroke="none" draw:fill="none"/>
  </style:style>
  <style:style style:name="gr2" style:family="graphic">
   <style:graphic-properties draw:stroke="none" draw:fill="solid" draw:fill-color="#1f4e8c"/>
  </style:style>
  <style:style style:name="P1" style:family="paragraph">
   <style:text-properties fo:font-size="36pt" fo:font-weight="bold" fo:color="#1f4e8c" style:font-name="Liberation Sans"/>
  </style:style>
  <style:style style:name="P2" style:family="paragraph">
   <style:paragraph-properties fo:margin-top="0.3cm"/>
   <style:text-properties fo:font-size="24pt" fo:color="#222222" style:font-name="Liberation Sans"/>
  </style:style>
  <style:style style:name="P3" style:family="paragraph">
   <style:text-properties fo:font-size="14pt" fo:color="#ffffff" style:font-name="Liberation Sans"/>
  </style:style>
 </office:automatic-styles>
 <office:master-styles>
  <style:master-page style:name="Default" style:page-layout-name="PM1"/>
 </office:master-styles>
 <office:body>
  <office:presentation>
"""
TAIL = """  </office:presentation>
 </office:body>
</office:document>
"""


def slide(deck, number, count, heading, lines):
    body = "".join(f'<text:p text:style-name="P2">{escape(l)}</text:p>' for l in lines)
    footer = escape(f"Deck: {deck} - Slide {number} of {count}")
    return f"""   <draw:page draw:name="Slide {number}" draw:style-name="dp1" draw:master-page-name="Default">
    <draw:frame draw:style-name="gr1" svg:x="2cm" svg:y="1.5cm" svg:width="24cm" svg:height="2.5cm">
     <draw:text-box><text:p text:style-name="P1">{escape(heading)}</text:p></draw:text-box>
    </draw:frame>
    <draw:frame draw:style-name="gr1" svg:x="2cm" svg:y="4.5cm" svg:width="24cm" svg:height="7.5cm">
     <draw:text-box>{body}</draw:text-box>
    </draw:frame>
    <draw:frame draw:style-name="gr2" svg:x="0cm" svg:y="13.75cm" svg:width="28cm" svg:height="2cm">
     <draw:text-box><text:p text:style-name="P3">{footer}</text:p></draw:text-box>
    </draw:frame>
   </draw:page>
"""


def main(out_dir):
    out = Path(out_dir)
    out.mkdir(parents=True, exist_ok=True)
    for deck, (fmt, slides) in DECKS.items():
        text = HEAD + "".join(slide(deck, i + 1, len(slides), h, l) for i, (h, l) in enumerate(slides)) + TAIL
        (out / f"{deck}.fodp").write_text(text, encoding="utf-8")
        print(f"{deck}.fodp {fmt} {len(slides)}")


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else ".")
