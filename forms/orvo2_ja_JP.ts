<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ja_JP">
<context>
    <name>Body</name>
    <message>
        <source>Data Format</source>
        <translation>データ形式</translation>
    </message>
    <message>
        <source>Orvo2</source>
        <translation>Orvo2</translation>
    </message>
    <message>
        <source>I0 Image</source>
        <translation>I0画像</translation>
    </message>
    <message>
        <source>BG Image</source>
        <translation>BG画像</translation>
    </message>
    <message>
        <source>CT Calculation</source>
        <translation>CT計算</translation>
    </message>
    <message>
        <source>CT1</source>
        <translation>CT1</translation>
    </message>
    <message>
        <source>CT2</source>
        <translation>CT2</translation>
    </message>
    <message>
        <source>Show Res.</source>
        <translation>結果表示</translation>
    </message>
    <message>
        <source>Calc</source>
        <translation>計算</translation>
    </message>
    <message>
        <source>Start</source>
        <translation>開始</translation>
    </message>
    <message>
        <source>End</source>
        <translation>終了</translation>
    </message>
    <message>
        <source>Spent</source>
        <translation>所要時間</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>保存</translation>
    </message>
    <message>
        <source>Auto Save Img</source>
        <translation>画像自動保存</translation>
    </message>
    <message>
        <source>Auto Save Data</source>
        <translation>データ自動保存</translation>
    </message>
    <message>
        <source>Save in Sub Folders</source>
        <translation>サブフォルダに保存</translation>
    </message>
    <message>
        <source>of Energy</source>
        <translation>エネルギー別</translation>
    </message>
    <message>
        <source>of Slice</source>
        <translation>スライス別</translation>
    </message>
    <message>
        <source>Color Scale</source>
        <translation>カラースケール</translation>
    </message>
    <message>
        <source>Fix Color Scale</source>
        <translation>カラースケール固定</translation>
    </message>
    <message>
        <source>Min</source>
        <translation>最小</translation>
    </message>
    <message>
        <source>Max</source>
        <translation>最大</translation>
    </message>
    <message>
        <source>Show Additionl Info for CT XAFS</source>
        <translation>CT XAFS用の追加情報を表示</translation>
    </message>
    <message>
        <source>Sequential Exec</source>
        <translation>逐次実行</translation>
    </message>
    <message>
        <source>From</source>
        <translation>開始</translation>
    </message>
    <message>
        <source>To</source>
        <translation>終了</translation>
    </message>
    <message>
        <source>Seq. Calc.</source>
        <translation>逐次計算</translation>
    </message>
    <message>
        <source>Keep on New Sets</source>
        <translation>新セットでも保持</translation>
    </message>
    <message>
        <source>Progress Msg.</source>
        <translation>進行状況</translation>
    </message>
    <message>
        <source>[ms]</source>
        <translation>[ms]</translation>
    </message>
    <message>
        <source>Raw Image</source>
        <translation>投影像</translation>
    </message>
    <message>
        <source>Sinogram</source>
        <translation>サイノグラム</translation>
    </message>
    <message>
        <source>CT Reconstructed Image</source>
        <translation>CT再構成像</translation>
    </message>
    <message>
        <source>I0 of Raw Image</source>
        <translation>投影像のI0</translation>
    </message>
    <message>
        <source>I0 of I0 Image</source>
        <translation>I0画像のI0</translation>
    </message>
    <message>
        <source>Measured Raw Image</source>
        <translation>測定投影像</translation>
    </message>
    <message>
        <source>Check Sinogram</source>
        <translation>サイノグラム確認</translation>
    </message>
    <message>
        <source>CT Reconstruction</source>
        <translation>CT再構成</translation>
    </message>
    <message>
        <source>CT Calc2 %1</source>
        <translation>CT計算2 %1</translation>
    </message>
    <message>
        <source>CT2 %1</source>
        <translation>CT2 %1</translation>
    </message>
    <message>
        <source>XAFS</source>
        <translation>XAFS</translation>
    </message>
    <message>
        <source>Loading first Data Set</source>
        <translation>最初のデータセットを読込中</translation>
    </message>
    <message>
        <source>Loading next Data Set</source>
        <translation>次のデータセットを読込中</translation>
    </message>
    <message>
        <source>Energy %1 of %2 (set %3, %4 eV): %5</source>
        <translation>エネルギー %1 / %2 (セット %3, %4 eV): %5</translation>
    </message>
    <message>
        <source>Sequential run not started: a CT run is in progress</source>
        <translation>連続実行は開始されません: CT計算の実行中です</translation>
    </message>
    <message>
        <source>Sequential run stopped at %1: a CT run is in progress</source>
        <translation>連続実行は %1 で停止しました: CT計算の実行中です</translation>
    </message>
    <message>
        <source>set %1 (%2)</source>
        <translation>セット %1 (%2)</translation>
    </message>
    <message>
        <source>Sequential run stopped at %1: the I0 image %2 could not be loaded</source>
        <translation>連続実行は %1 で停止しました: I0画像 %2 を読み込めません</translation>
    </message>
    <message>
        <source>Energy %1 is shared by several sets: results tagged %2</source>
        <translation>エネルギー %1 は複数のセットに共通です: 結果のタグは %2</translation>
    </message>
    <message>
        <source>Values: the sum over the projections; ÷ 2P = µ per pixel</source>
        <translation>値: 投影の総和; ÷ 2P = 画素あたりの µ</translation>
    </message>
    <message>
        <source>; ÷ 2P ÷ %1 cm (pixel %2 µm) = µ in 1/cm</source>
        <translation>; ÷ 2P ÷ %1 cm (画素 %2 µm) = µ (1/cm)</translation>
    </message>
    <message>
        <source>loading the set</source>
        <translation>セットを読み込み中</translation>
    </message>
</context>
<context>
    <name>CBarUI</name>
    <message>
        <source>Frame</source>
        <translation>フレーム</translation>
    </message>
    <message>
        <source>Fix</source>
        <translation>固定</translation>
    </message>
    <message>
        <source>Min</source>
        <translation>最小</translation>
    </message>
    <message>
        <source>Max</source>
        <translation>最大</translation>
    </message>
</context>
<context>
    <name>CtCalc</name>
    <message>
        <source>CT Calc</source>
        <translation>CT計算</translation>
    </message>
    <message>
        <source>Disp R.</source>
        <translation>表示領域</translation>
    </message>
    <message>
        <source>Cacl R.</source>
        <translation>計算領域</translation>
    </message>
    <message>
        <source>Set To C. Region</source>
        <translation>計算領域に設定</translation>
    </message>
    <message>
        <source>Calc</source>
        <translation>計算</translation>
    </message>
    <message>
        <source>At Once</source>
        <translation>一括</translation>
    </message>
    <message>
        <source>Slice No.</source>
        <translation>スライス番号</translation>
    </message>
    <message>
        <source>Start</source>
        <translation>開始</translation>
    </message>
    <message>
        <source>End</source>
        <translation>終了</translation>
    </message>
    <message>
        <source>Spent [sec]</source>
        <translation>所要時間 [秒]</translation>
    </message>
</context>
<context>
    <name>DispAWLayout</name>
    <message>
        <source>Frame</source>
        <translation>フレーム</translation>
    </message>
</context>
<context>
    <name>FormFit</name>
    <message>
        <source>Sel. I0 File Set</source>
        <translation>I0ファイル選択</translation>
    </message>
    <message>
        <source>Row Images</source>
        <translation>投影像</translation>
    </message>
    <message>
        <source>%v / %m slices</source>
        <translation>%v / %m スライス</translation>
    </message>
</context>
<context>
    <name>I0ofImage</name>
    <message>
        <source>Frame</source>
        <translation>フレーム</translation>
    </message>
    <message>
        <source>Eng. Ptn in Img F. Name :</source>
        <translation>画像名のエネルギー部 :</translation>
    </message>
    <message>
        <source>Calc from XAFS file</source>
        <translation>XAFSファイルから計算</translation>
    </message>
</context>
<context>
    <name>ImgDispWCBar</name>
    <message>
        <source>Image Display with Color Bar</source>
        <translation>カラーバー付き画像表示</translation>
    </message>
</context>
<context>
    <name>ImgDispWPV</name>
    <message>
        <source>Image Display with Position and Value</source>
        <translation>位置と値つき画像表示</translation>
    </message>
    <message>
        <source>X</source>
        <translation>X</translation>
    </message>
    <message>
        <source>Y</source>
        <translation>Y</translation>
    </message>
    <message>
        <source>Val:</source>
        <translation>値:</translation>
    </message>
    <message>
        <source>Scale Reset</source>
        <translation>表示リセット</translation>
    </message>
</context>
<context>
    <name>PopDockBase</name>
    <message>
        <source>Frame</source>
        <translation>フレーム</translation>
    </message>
    <message>
        <source>Pop/Dock</source>
        <translation>分離/格納</translation>
    </message>
</context>
<context>
    <name>ProcCtrl</name>
    <message>
        <source>Scan range</source>
        <translation>スキャン範囲</translation>
    </message>
    <message>
        <source>180°</source>
        <translation>180°</translation>
    </message>
    <message>
        <source>360°</source>
        <translation>360°</translation>
    </message>
    <message>
        <source>The angles the projections cover. 360° with the centre near an edge of the detector reconstructs a field up to twice its width</source>
        <translation>投影が覆う角度範囲。360° で回転中心を検出器の端近くに置くと、検出器幅の最大2倍の視野を再構成します</translation>
    </message>
    <message>
        <source>Angles</source>
        <translation>角度</translation>
    </message>
    <message>
        <source>even spread</source>
        <translation>等間隔</translation>
    </message>
    <message>
        <source>A text file with one angle in degrees per projection, in projection order; empty: the projections spread evenly</source>
        <translation>投影ごとに1行ずつ角度(度)を投影順に書いたテキストファイル。空欄のときは投影が等間隔に並ぶものとします</translation>
    </message>
    <message>
        <source>...</source>
        <translation>...</translation>
    </message>
    <message>
        <source>Angle file</source>
        <translation>角度ファイル</translation>
    </message>
    <message>
        <source>Padded</source>
        <translation>パディング</translation>
    </message>
    <message>
        <source>Precision</source>
        <translation>精度</translation>
    </message>
    <message>
        <source>Double</source>
        <translation>倍精度</translation>
    </message>
    <message>
        <source>Single</source>
        <translation>単精度</translation>
    </message>
    <message>
        <source>Single: filtering and back projection in float32, about twice as fast; slices differ from Double&apos;s far below the photon noise</source>
        <translation>単精度：フィルター処理と逆投影を float32 で行い、約2倍速くなります。倍精度との差は光子ノイズよりはるかに小さい</translation>
    </message>
    <message>
        <source>Pad sinogram rows with their edge values and use the band-limited ramp: absolute attenuation without offset</source>
        <translation>サイノグラムの各行を端の値でパディングし、帯域制限ランプを使います：オフセットのない絶対吸収係数</translation>
    </message>
    <message>
        <source>Filter</source>
        <translation>フィルター</translation>
    </message>
    <message>
        <source>Find</source>
        <translation>検出</translation>
    </message>
    <message>
        <source>Find the centre of rotation from the symmetry of the first projection and the last one (180 degrees)</source>
        <translation>最初の投影と最後の投影（180度）の対称性から回転中心を求めます</translation>
    </message>
    <message>
        <source>Ring Removal</source>
        <translation>リング除去</translation>
    </message>
    <message>
        <source>Off</source>
        <translation>なし</translation>
    </message>
    <message>
        <source>Remove stripes (rings) before filtering: the smoothing window in detector pixels, typically 11 to 31; Off leaves the data as they are</source>
        <translation>フィルタ処理の前に縞（リング）を除去します。値は検出器画素単位の平滑化幅で、通常 11 ～ 31 です。「なし」ではデータをそのまま使います</translation>
    </message>
    <message>
        <source>Proc Control</source>
        <translation>処理制御</translation>
    </message>
    <message>
        <source>Rotation : </source>
        <translation>回転 : </translation>
    </message>
    <message>
        <source>  Center</source>
        <translation>  中心</translation>
    </message>
    <message>
        <source>  Ax</source>
        <translation>  軸</translation>
    </message>
    <message>
        <source>H</source>
        <translation>H</translation>
    </message>
    <message>
        <source>V</source>
        <translation>V</translation>
    </message>
    <message>
        <source>Record</source>
        <translation>記録</translation>
    </message>
    <message>
        <source>Auto Update Sinogram</source>
        <translation>サイノグラム自動更新</translation>
    </message>
    <message>
        <source>Slice : </source>
        <translation>スライス : </translation>
    </message>
    <message>
        <source>Current</source>
        <translation>現在</translation>
    </message>
    <message>
        <source>Auto Exec</source>
        <translation>自動実行</translation>
    </message>
    <message>
        <source>From</source>
        <translation>開始</translation>
    </message>
    <message>
        <source>To</source>
        <translation>終了</translation>
    </message>
    <message>
        <source>Step</source>
        <translation>間隔</translation>
    </message>
    <message>
        <source>Threads</source>
        <translation>スレッド数</translation>
    </message>
</context>
<context>
    <name>RawView</name>
    <message>
        <source>To reconstruct a slice:
1. Load the projections: &quot;Data Select&quot; under &quot;Row Images&quot;.
2. Choose the I0 and BG images with their &quot;Select&quot; buttons.
3. Set the centre of rotation: &quot;Center&quot;, or a right click on the image.
4. Press &quot;Calc&quot;.

On the image a click picks the slice, a drag moves the picture, the wheel zooms
and Shift+drag selects a region.</source>
        <translation>スライスを再構成するには:
1. 投影像を読み込む: 「投影像」の「データ選択」。
2. I0 画像と BG 画像をそれぞれの「選択」で選ぶ。
3. 回転中心を設定する: 「中心」に入力するか、画像上で右クリック。
4. 「計算」を押す。

画像上では、クリックでスライスを選択、ドラッグで画像を移動、ホイールで拡大縮小、
Shift+ドラッグで領域を選択します。</translation>
    </message>
</context>
<context>
    <name>SeekCtrl</name>
    <message>
        <source>Frame</source>
        <translation>フレーム</translation>
    </message>
</context>
<context>
    <name>SelectAFile</name>
    <message>
        <source>Frame</source>
        <translation>フレーム</translation>
    </message>
    <message>
        <source>Select</source>
        <translation>選択</translation>
    </message>
    <message>
        <source>Clear</source>
        <translation>クリア</translation>
    </message>
    <message>
        <source>Img file (*.img)</source>
        <translation>Imgファイル (*.img)</translation>
    </message>
    <message>
        <source>Tiff file (*.tif *.tiff)</source>
        <translation>TIFFファイル (*.tif *.tiff)</translation>
    </message>
    <message>
        <source>Any file (* *.*)</source>
        <translation>すべてのファイル (* *.*)</translation>
    </message>
    <message>
        <source>Folder</source>
        <translation>フォルダ</translation>
    </message>
    <message>
        <source>Folder the results are saved in</source>
        <translation>結果を保存するフォルダ</translation>
    </message>
    <message>
        <source>Base name</source>
        <translation>基本名</translation>
    </message>
    <message>
        <source>Base name of the saved files: name-tag-slice</source>
        <translation>保存ファイルの基本名: 基本名-タグ-スライス</translation>
    </message>
    <message>
        <source>Tag</source>
        <translation>タグ</translation>
    </message>
    <message>
        <source>Tag in the names of the saved files (a sequential run puts the energy here)</source>
        <translation>保存ファイル名のタグ (逐次実行ではエネルギーが入ります)</translation>
    </message>
</context>
<context>
    <name>SelectAImgFileBase</name>
    <message>
        <source>Frame</source>
        <translation>フレーム</translation>
    </message>
    <message>
        <source>Exp Time</source>
        <translation>露光時間</translation>
    </message>
    <message>
        <source>[s]</source>
        <translation>[秒]</translation>
    </message>
    <message>
        <source>Show Img</source>
        <translation>画像表示</translation>
    </message>
</context>
<context>
    <name>SelectDataDir</name>
    <message>
        <source>Frame</source>
        <translation>フレーム</translation>
    </message>
    <message>
        <source>KVN Std.</source>
        <translation>KVN標準</translation>
    </message>
    <message>
        <source>Next</source>
        <translation>次へ</translation>
    </message>
    <message>
        <source>Set</source>
        <translation>読込</translation>
    </message>
    <message>
        <source>Pattern</source>
        <translation>パターン</translation>
    </message>
    <message>
        <source>Sel. Data Dir.</source>
        <translation>データフォルダ選択</translation>
    </message>
</context>
<context>
    <name>SelectDataFiles</name>
    <message>
        <source>SelectDataFiles</source>
        <translation>データファイル選択</translation>
    </message>
    <message>
        <source>Data Select</source>
        <translation>データ選択</translation>
    </message>
    <message>
        <source>Clear</source>
        <translation>クリア</translation>
    </message>
    <message>
        <source>New</source>
        <translation>新規</translation>
    </message>
    <message>
        <source>Add</source>
        <translation>追加</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;When Checked : The first file in the list will be read multitimes ( ex. 180 times )&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;チェック時 : リストの最初のファイルを複数回読み込みます ( 例 180 回 )&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>Multi.</source>
        <translation>複数回</translation>
    </message>
    <message>
        <source>Exp. Time[s]</source>
        <translation>露光時間[秒]</translation>
    </message>
    <message>
        <source>keep Conds.</source>
        <translation>条件保持</translation>
    </message>
    <message>
        <source>Itex File (*.img)</source>
        <translation>Itexファイル (*.img)</translation>
    </message>
    <message>
        <source>Tiff File (*.tif *.tiff)</source>
        <translation>TIFFファイル (*.tif *.tiff)</translation>
    </message>
    <message>
        <source>Any Files (* *.*)</source>
        <translation>すべてのファイル (* *.*)</translation>
    </message>
</context>
<context>
    <name>SelectDir</name>
    <message>
        <source>Frame</source>
        <translation>フレーム</translation>
    </message>
    <message>
        <source>Sel. Dir</source>
        <translation>フォルダ選択</translation>
    </message>
    <message>
        <source>(*)</source>
        <translation>(*)</translation>
    </message>
</context>
<context>
    <name>Sinogram</name>
    <message>
        <source>Sinogram</source>
        <translation>サイノグラム</translation>
    </message>
    <message>
        <source>Gen Image</source>
        <translation>画像生成</translation>
    </message>
    <message>
        <source>CoR</source>
        <translation>回転中心</translation>
    </message>
    <message>
        <source>Gen Fou. Sinogram</source>
        <translation>フーリエ変換像を生成</translation>
    </message>
</context>
<context>
    <name>XafsBatch</name>
    <message>
        <source>Data Loading</source>
        <translation>データ読込中</translation>
    </message>
    <message>
        <source>Calculating</source>
        <translation>計算中</translation>
    </message>
    <message>
        <source>Finished Calc.</source>
        <translation>計算終了</translation>
    </message>
    <message>
        <source>Finished</source>
        <translation>完了</translation>
    </message>
</context>
<context>
    <name>XafsPanel</name>
    <message>
        <source>Register energies</source>
        <translation>エネルギー間の位置合わせ</translation>
    </message>
    <message>
        <source>Build</source>
        <translation>作成</translation>
    </message>
    <message>
        <source>Pre-edge (eV)</source>
        <translation>プレエッジ (eV)</translation>
    </message>
    <message>
        <source>Post-edge (eV)</source>
        <translation>ポストエッジ (eV)</translation>
    </message>
    <message>
        <source>E0 (eV)</source>
        <translation>E0 (eV)</translation>
    </message>
    <message>
        <source>Min. jump</source>
        <translation>最小ジャンプ</translation>
    </message>
    <message>
        <source>Refresh</source>
        <translation>再読込</translation>
    </message>
    <message>
        <source>Export CSV</source>
        <translation>CSV出力</translation>
    </message>
    <message>
        <source>Export PNG</source>
        <translation>PNG出力</translation>
    </message>
    <message>
        <source>Slice</source>
        <translation>スライス</translation>
    </message>
    <message>
        <source>Show</source>
        <translation>表示</translation>
    </message>
    <message>
        <source>Click a pixel or Shift-drag a region to plot its spectrum.</source>
        <translation>画素をクリックするか Shift+ドラッグで領域を選ぶとスペクトルを表示します。</translation>
    </message>
    <message>
        <source>Edge position E0 (eV)</source>
        <translation>エッジ位置 E0 (eV)</translation>
    </message>
    <message>
        <source>Export spectrum</source>
        <translation>スペクトルの出力</translation>
    </message>
    <message>
        <source>CSV (*.csv)</source>
        <translation>CSV (*.csv)</translation>
    </message>
    <message>
        <source>Export plot</source>
        <translation>グラフの出力</translation>
    </message>
    <message>
        <source>PNG (*.png)</source>
        <translation>PNG (*.png)</translation>
    </message>
    <message>
        <source>Edge jump (%1)</source>
        <translation>エッジジャンプ (%1)</translation>
    </message>
    <message>
        <source>µ at %1 eV (1/pixel)</source>
        <translation>%1 eV の µ (1/画素)</translation>
    </message>
    <message>
        <source>%1: spectrum of %2 pixel(s)</source>
        <translation>%1: %2 画素のスペクトル</translation>
    </message>
    <message>
        <source>Pixel %1, %2</source>
        <translation>画素 %1, %2</translation>
    </message>
    <message>
        <source>Pixel %1, %2: not valid (NaN) in this map</source>
        <translation>画素 %1, %2: このマップでは無効 (NaN)</translation>
    </message>
    <message>
        <source>Region x %1 to %2, z %3 to %4</source>
        <translation>領域 x %1 ～ %2, z %3 ～ %4</translation>
    </message>
    <message>
        <source>No clusters yet: press Clusters first.</source>
        <translation>クラスタがまだありません: 先に「クラスタ」を押してください。</translation>
    </message>
    <message>
        <source>not valid (NaN)</source>
        <translation>無効 (NaN)</translation>
    </message>
    <message>
        <source>Edge at half height (eV)</source>
        <translation>半高さのエッジ位置 (eV)</translation>
    </message>
    <message>
        <source>White-line energy (eV)</source>
        <translation>ホワイトラインのエネルギー (eV)</translation>
    </message>
    <message>
        <source>White-line height (normalised)</source>
        <translation>ホワイトラインの高さ (規格化)</translation>
    </message>
    <message>
        <source>LCF weight of %1</source>
        <translation>%1 の LCF 重み</translation>
    </message>
    <message>
        <source>LCF R-factor</source>
        <translation>LCF R 因子</translation>
    </message>
    <message>
        <source>PCA score %1</source>
        <translation>PCA スコア %1</translation>
    </message>
    <message>
        <source>Clusters</source>
        <translation>クラスタ</translation>
    </message>
    <message>
        <source>Min. jump (or %)</source>
        <translation>最小ジャンプ (または %)</translation>
    </message>
    <message>
        <source>Relative pre (eV)</source>
        <translation>相対プレエッジ (eV)</translation>
    </message>
    <message>
        <source>Relative post (eV)</source>
        <translation>相対ポストエッジ (eV)</translation>
    </message>
    <message>
        <source>nnorm</source>
        <translation>nnorm</translation>
    </message>
    <message>
        <source>E0 at</source>
        <translation>E0 の定義</translation>
    </message>
    <message>
        <source>steepest rise</source>
        <translation>最大傾き</translation>
    </message>
    <message>
        <source>half step</source>
        <translation>ステップの半分</translation>
    </message>
    <message>
        <source>by rule</source>
        <translation>規則どおり</translation>
    </message>
    <message>
        <source>Flatten</source>
        <translation>平坦化</translation>
    </message>
    <message>
        <source>Shift (eV)</source>
        <translation>シフト (eV)</translation>
    </message>
    <message>
        <source>Pixel (µm)</source>
        <translation>画素 (µm)</translation>
    </message>
    <message>
        <source>CSV (*.csv);;XDI (*.xdi)</source>
        <translation>CSV (*.csv);;XDI (*.xdi)</translation>
    </message>
    <message>
        <source>A jump per pixel, or a percentage of the slice&apos;s largest jump (5%)</source>
        <translation>画素あたりのジャンプ、またはスライス内最大ジャンプに対する百分率 (5%)</translation>
    </message>
</context>
<context>
    <name>XafsPlot</name>
    <message>
        <source>µ(E)</source>
        <translation>µ(E)</translation>
    </message>
    <message>
        <source>normalised µ(E)</source>
        <translation>規格化 µ(E)</translation>
    </message>
    <message>
        <source>pre-edge line</source>
        <translation>プレエッジ直線</translation>
    </message>
    <message>
        <source>post-edge line</source>
        <translation>ポストエッジ直線</translation>
    </message>
    <message>
        <source>Energy (eV)</source>
        <translation>エネルギー (eV)</translation>
    </message>
    <message>
        <source>µ per pixel</source>
        <translation>画素あたりの µ</translation>
    </message>
    <message>
        <source>normalised µ</source>
        <translation>規格化 µ</translation>
    </message>
    <message>
        <source>E0 = %1 eV</source>
        <translation>E0 = %1 eV</translation>
    </message>
    <message>
        <source>E0</source>
        <translation>E0</translation>
    </message>
    <message>
        <source>edge step = %1 per pixel</source>
        <translation>エッジステップ = %1 (画素あたり)</translation>
    </message>
    <message>
        <source>(below the minimum jump: not normalised)</source>
        <translation>(最小ジャンプ未満: 規格化されません)</translation>
    </message>
    <message>
        <source>Fit: %1 (sum %2), R-factor %3</source>
        <translation>フィット: %1 (合計 %2), R 因子 %3</translation>
    </message>
    <message>
        <source>Fit: the references do not fit this spectrum (range or values)</source>
        <translation>フィット: 参照スペクトルがこのスペクトルに合いません (範囲または値)</translation>
    </message>
    <message>
        <source>fitted sum</source>
        <translation>フィットの和</translation>
    </message>
    <message>
        <source>Mean normalised µ(E) of each cluster</source>
        <translation>各クラスタの平均規格化 µ(E)</translation>
    </message>
    <message>
        <source>cluster %1 (%2 voxels)</source>
        <translation>クラスタ %1 (%2 ボクセル)</translation>
    </message>
</context>
<context>
    <name>XafsMapControls</name>
    <message>
        <source>References</source>
        <translation>参照スペクトル</translation>
    </message>
    <message>
        <source>Add reference...</source>
        <translation>参照を追加...</translation>
    </message>
    <message>
        <source>Remove</source>
        <translation>削除</translation>
    </message>
    <message>
        <source>Fit</source>
        <translation>フィット</translation>
    </message>
    <message>
        <source>Components</source>
        <translation>主成分</translation>
    </message>
    <message>
        <source>K</source>
        <translation>K</translation>
    </message>
    <message>
        <source>Clusters</source>
        <translation>クラスタ</translation>
    </message>
    <message>
        <source>Plot cluster means</source>
        <translation>クラスタ平均を表示</translation>
    </message>
    <message>
        <source>Add reference spectra first</source>
        <translation>先に参照スペクトルを追加してください</translation>
    </message>
    <message>
        <source>Add reference spectrum</source>
        <translation>参照スペクトルを追加</translation>
    </message>
    <message>
        <source>Spectra (*.csv *.xdi *.dat *.txt);;All files (*)</source>
        <translation>スペクトル (*.csv *.xdi *.dat *.txt);;すべてのファイル (*)</translation>
    </message>
</context>
<context>
    <name>XafsView</name>
    <message>
        <source>Making the maps...</source>
        <translation>マップを作成中...</translation>
    </message>
    <message>
        <source>The maps are made: choose them under Show.</source>
        <translation>マップを作成しました: 「表示」で選んでください。</translation>
    </message>
    <message>
        <source>The maps could not be made: see the log.</source>
        <translation>マップを作成できませんでした: ログを見てください。</translation>
    </message>
</context>
</TS>
