<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="en">
<context>
    <name>AddParameterDialog</name>
    <message>
        <location filename="../general/ui/addparameterdialog.ui" line="+14"/>
        <source>Add parameters</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+6"/>
        <source>Start parameter number</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+14"/>
        <source>Interspacing</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+17"/>
        <source>Count</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>KeymarkConfigWidget</name>
    <message>
        <location filename="../km/ui/keymarkconfigwidget.cpp" line="+144"/>
        <source>Writing Keymark parameters</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+0"/>
        <source>Cancel</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Writing...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+20"/>
        <source>Currents</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+6"/>
        <source>Group %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+18"/>
        <source> mA</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+11"/>
        <source>General configuration</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+5"/>
        <source>Linear</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+0"/>
        <source>Logarithmic</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+5"/>
        <source> %</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+6"/>
        <source>Minimum dimming level</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+2"/>
        <source>NTC throttling temperature</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Dimming curve</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+4"/>
        <source>Write</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Read</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+289"/>
        <source>out of range</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+3"/>
        <source>The tag holds %1 mA, outside %2 to %3 mA. It is not written until you set a value.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>TivaroMainWindow</name>
    <message>
        <location filename="../app/tivaromainwindow.ui" line="+14"/>
        <source>Halvorn Tivaro</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+39"/>
        <source>Toolbar</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+18"/>
        <source>DMX</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+8"/>
        <source>DALI</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+8"/>
        <source>Keymark</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+8"/>
        <source>Log</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+3"/>
        <source>Ctrl+L</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../app/tivaromainwindow.cpp" line="+121"/>
        <source>&amp;About</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+2"/>
        <source>&amp;Help</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+31"/>
        <source>DMX sliders</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+36"/>
        <source>&amp;View</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+48"/>
        <source>Simulator</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+6"/>
        <source>Installation file...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+12"/>
        <source>%1 plugged in</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+12"/>
        <source>%1: Keymark tag inserted</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+23"/>
        <source>Installation file</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+10"/>
        <source>The file cannot be read: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+2"/>
        <source>The demo installation built into the program (start with --simulate=FILE to use a file of your own; the text below is a good start for one).</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+16"/>
        <source>Open in editor</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+83"/>
        <source>About Tivaro</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>halvorn::DALIWidget</name>
    <message>
        <location filename="../app/daliwidget.cpp" line="+39"/>
        <source>Broadcast</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+6"/>
        <source>DALI Group %1</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>halvorn::DMXWidget</name>
    <message>
        <location filename="../app/dmxwidget.cpp" line="+20"/>
        <source>Refresh parameters</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+31"/>
        <source>Networking settings</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Control settings</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Drive settings</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>halvorn::DeviceTreeDock</name>
    <message>
        <location filename="../app/devicetreedock.cpp" line="+31"/>
        <source>Devices</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>halvorn::TaskStatusWidget</name>
    <message>
        <location filename="../app/taskstatuswidget.cpp" line="+28"/>
        <source>Cancel</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+12"/>
        <source>Stop the running task</source>
        <translation type="unfinished"></translation>
    </message>
    <message numerus="yes">
        <location line="+66"/>
        <source>%n more queued</source>
        <translation type="unfinished">
            <numerusform></numerusform>
            <numerusform></numerusform>
        </translation>
    </message>
</context>
<context>
    <name>halvorn::dmx::DMXDeviceStringDialog</name>
    <message>
        <location filename="../dmx/ui/dmxdevicestringdialog.cpp" line="+39"/>
        <source>Create devices</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+2"/>
        <source>16 Bits</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+0"/>
        <source>8 Bits</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+3"/>
        <source>Auto addressing</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+0"/>
        <source>Forwarding</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+0"/>
        <source>Cluster</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+7"/>
        <source>Number of devices</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+1"/>
        <source>DMX Universe</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+1"/>
        <source>DMX Start address</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Channel count</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+1"/>
        <source>DMX Network resolution</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+1"/>
        <source>DMX Daisy-chain mode</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>halvorn::dmx::DMXSetpointChannelView</name>
    <message>
        <location filename="../dmx/ui/dmxsetpointchannelview.cpp" line="+155"/>
        <source>DMX channel menu</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Add device(s)</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>halvorn::dmx::DMXSetpointDeviceView</name>
    <message>
        <location filename="../dmx/ui/dmxsetpointdeviceview.cpp" line="+82"/>
        <source>Device</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+21"/>
        <source>Network resolution</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+1"/>
        <source>8 Bits</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+1"/>
        <source>16 Bits</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+5"/>
        <source>Daisy-chain mode</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+0"/>
        <source>Auto-addressing</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Forwarding</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Cluster</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Manual</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+7"/>
        <source>Output gamma curve</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+0"/>
        <source>Linear</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Logarithmic</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+4"/>
        <source>Add daisy-chained device(s)</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>halvorn::dmx::DMXSetpointView</name>
    <message>
        <location filename="../dmx/ui/dmxsetpointview.cpp" line="+71"/>
        <source>Auto Update</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+4"/>
        <source> ms</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+10"/>
        <source>8 bit</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+1"/>
        <source>16 bit</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>halvorn::general::AppMenuBar</name>
    <message>
        <location filename="../general/ui/appmenubar.cpp" line="+16"/>
        <source>Window</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+2"/>
        <source>&amp;About</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+3"/>
        <source>&amp;Help</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+43"/>
        <source>About Tivaro</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+1"/>
        <source>&lt;b&gt;Halvorn Tivaro&lt;/b&gt;&lt;br&gt;&lt;br&gt; &lt;i&gt;Version: 1.00&lt;/i&gt;&lt;br&gt;</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>halvorn::general::Device</name>
    <message>
        <location filename="../general/device.cpp" line="+246"/>
        <source>Search parameters</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Add parameter(s)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Remove device</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+4"/>
        <source>Search daisy-chain children</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>halvorn::general::DeviceNodeMenu</name>
    <message>
        <location filename="../general/ui/devicenodemenu.cpp" line="+13"/>
        <source>Device</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+4"/>
        <source>Search parameters</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Add parameter(s)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Remove device</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+3"/>
        <source>Search daisy-chain children</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>halvorn::general::DeviceStatusWidget</name>
    <message>
        <location filename="../general/ui/devicestatuswidget.cpp" line="+50"/>
        <source>Connected</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+6"/>
        <source>Disconnected</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>halvorn::general::Log</name>
    <message>
        <location filename="../general/log.cpp" line="+184"/>
        <source>Time</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Class</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Thread</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Message</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>halvorn::general::LogWidget</name>
    <message>
        <location filename="../general/ui/logwidget.cpp" line="+13"/>
        <source>Auto scroll</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+15"/>
        <source>Save log</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+3"/>
        <source>Clear</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+63"/>
        <source>Save Log File</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+0"/>
        <source>Text (*.txt)</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>halvorn::general::MultiLogWidget</name>
    <message>
        <location filename="../general/ui/multilogwidget.cpp" line="+16"/>
        <location line="+1"/>
        <source>Log</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>halvorn::general::ParameterNodeMenu</name>
    <message>
        <location filename="../general/ui/parameternodemenu.cpp" line="+18"/>
        <source>Parameter</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Clear min/max</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+3"/>
        <source>Show graph</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Display type</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+75"/>
        <source>Scale factor for parameter (factor * value)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+5"/>
        <source>Scale factor for parameter (factor / value)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+8"/>
        <source>Scale factor</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>halvorn::general::TreeNodeModel</name>
    <message>
        <location filename="../general/ui/treenodemodel.cpp" line="+212"/>
        <source>Name</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Number</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Min</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Max</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Value</source>
        <translation type="unfinished"></translation>
    </message>
</context>
</TS>
