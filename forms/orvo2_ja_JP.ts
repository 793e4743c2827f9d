<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ja_JP">
<context>
    <name>Body</name>
    <message>
        <location filename="Body.ui" line="17"/>
        <source>Orvo2</source>
        <translation>Orvo2</translation>
    </message>
</context>
</TS>
